#include "backup/backup_paths.h"
#include "backup/compare.h"
#include "program.h"
#include "registry_samples.h"
#include "ui/frmBackups.h"

#include <gtest/gtest.h>

namespace {

using samples::Sz;

constexpr wchar_t kNotABackup[] = L"not a backup of the list: line 3 writes HKEY_CURRENT_USER\\Software\\Classes\\.bmp";

// Four backups on C: "010", an old list written with a leading zero, which sorts as 10, above
// 7, which holds the list now, 5, whose file is gone, and 4, a file of another key.
struct BackupsWindow : ::testing::Test {
    fake::Os os;
    Program program{os};
    platform::Form* window = nullptr;
    platform::RegistryTree old010; // backup 010's list

    void SetUp() override
    {
        os.settings[L"lsBundle\\TimesRun\\1"] = L"20";
        os.addOnTree = samples::AddOnKey();
        Backup(L"7", samples::AddOnKey(), "Date Created: 12-07-2026\r\nTime Created: 3:04:05 PM\r\n");
        old010 = samples::AddOnKey();
        old010[1].values.pop_back();
        old010[1].values[0] = Sz(L"alice@example.org", L"Alice (old)");
        Backup(L"010", old010, "");
        os.folders.insert(L"c:\\larkspool5");
        os.folders.insert(L"c:\\larkspool5x");
        Backup(L"4", {{.path = L"HKEY_CURRENT_USER\\Software\\Classes\\.bmp", .values = {Sz(L"", L"Paint")}}}, "");
        program.Start();
    }
    void Backup(const std::wstring& number, const platform::RegistryTree& tree, const std::string& stamp)
    {
        os.folders.insert(fake::Lower(backup::BackupFolder(number)));
        os.files[fake::Lower(backup::BackupFile(number))] = samples::Regedit4(tree);
        if (!stamp.empty()) {
            os.files[fake::Lower(backup::DateStampFile(number))] = stamp;
        }
    }
    // A right-click on the main window's background, then "Backups...".
    platform::Form& Open()
    {
        program.runtime.popupChoice = L"mn3";
        platform::EventArgs args;
        args.button = 2;
        program.form->Fire(L"Form", L"MouseDown", args);
        window = program.runtime.shown;
        EXPECT_EQ(window->layout().name, L"frmBackups");
        return *window;
    }
    platform::Control& List() { return (*window)[L"lstBackups"]; }
    platform::Control& Table() { return (*window)[L"lstCompare"]; }
    const std::wstring& Text() { return (*window)[L"txtCompare"].caption; }
    // The comparison's summary and rows (cells between bars) while the table shows, else the text box.
    std::wstring Shown()
    {
        if (!Table().visible) {
            EXPECT_TRUE((*window)[L"txtCompare"].visible);
            EXPECT_EQ((*window)[L"lblCompare"].caption, L"");
            return Text();
        }
        EXPECT_FALSE((*window)[L"txtCompare"].visible);
        std::wstring shown = (*window)[L"lblCompare"].caption;
        for (const auto& row : Table().rows) {
            shown += L"\r\n" + row[0] + L"|" + row[1] + L"|" + row[2] + L"|" + row[3] + L"|" + row[4];
        }
        return shown;
    }
    void Tick() { window->Fire(L"tmrWork", L"Timer"); }
    void Select(std::vector<std::size_t> rows) { List().selected = std::move(rows); }
    void Key(int code, const wchar_t* focus = L"lstBackups")
    {
        platform::EventArgs args;
        args.keyCode = code;
        args.control = focus;
        window->Fire(L"Form", L"KeyDown", args);
    }
    void CtrlKey(const wchar_t* list, int code)
    {
        platform::EventArgs args;
        args.keyCode = code;
        args.shift = platform::vbCtrlMask;
        window->Fire(list, L"KeyDown", args);
    }
};

TEST_F(BackupsWindow, RightClickAnywhereOffersBothItems)
{
    for (const wchar_t* control :
         {L"Form", L"Label1", L"Label2", L"Label3", L"Image1", L"cmdExport", L"cmdAbout", L"cmdExit", L"chkOpen"}) {
        program.runtime.calls.clear();
        platform::EventArgs args;
        args.button = 2;
        program.form->Fire(control, L"MouseDown", args);
        EXPECT_EQ(program.runtime.calls, (std::vector<std::wstring>{L"PopupMenu mnu1"}))
            << std::string(control, control + std::wcslen(control));
    }
    const auto& menus = Form1::Layout().menus;
    ASSERT_EQ(menus.size(), 6u);
    EXPECT_EQ(menus[2].caption, L"Backups...");
    EXPECT_EQ(menus[2].parent, L"mnu1");
    EXPECT_EQ(program[L"cmdExport"].toolTip, L"Right-click for your backups.");
    // The system menu (Alt+Space) leads to both windows too.
    EXPECT_EQ(Form1::Layout().systemMenu, menus[3].name);
    for (const auto& [item, shown] : {std::pair{4, L"Show frmBackups 1"}, std::pair{5, L"Show frmAbout 1"}}) {
        EXPECT_EQ(menus[item].parent, menus[3].name);
        program.form->Fire(menus[item].name, L"Click");
        EXPECT_EQ(program.runtime.calls.back(), shown);
    }
}

TEST_F(BackupsWindow, RowsNewestFirstWithWhatEachFileHolds)
{
    Open();
    EXPECT_EQ(program.runtime.calls.back(), L"Show frmBackups 1");
    const std::wstring size7 = backup::FormatKilobytes(os.files.at(L"c:\\larkspool7\\larkspool7.reg").size(), L".");
    const std::wstring size010 =
        backup::FormatKilobytes(os.files.at(L"c:\\larkspool010\\larkspool010.reg").size(), L".");
    const std::wstring size4 = backup::FormatKilobytes(os.files.at(L"c:\\larkspool4\\larkspool4.reg").size(), L".");
    EXPECT_EQ(List().rows, (std::vector<std::vector<std::wstring>>{
                               {L"010", L"", size010 + L" kb", L"2", L"2", L"differs from now", L""},
                               {L"7", L"12-07-2026 3:04:05 PM", size7 + L" kb", L"3", L"2", L"same as now", L""},
                               {L"5", L"", L"", L"", L"", L"no backup file", L""},
                               {L"4", L"", size4 + L" kb", L"1", L"1", kNotABackup, L""},
                           }));
}

// The rows come at once from the folder listing; the rest follows as the files are read.
TEST_F(BackupsWindow, RowsShowAtOnceAndFillInLater)
{
    os.holdJobs = true;
    Open();
    ASSERT_EQ(List().rows.size(), 4u);
    EXPECT_EQ(List().rows[1], (std::vector<std::wstring>{L"7", L"", L"", L"", L"", L"", L""}));
    os.RunJobs();
    Tick();
    EXPECT_EQ(List().rows[1][5], L"same as now");
    // F5 lists again: a folder made meanwhile shows.
    Backup(L"11", samples::AddOnKey(), "");
    Key(platform::vbKeyF5);
    os.RunJobs();
    Tick();
    EXPECT_EQ(List().rows.front()[0], L"11");
}

// With copies on: each backup on C: tells its copy; after them this computer's copies of
// backups gone from C:, then other computers'. Every action works from the row's file.
TEST_F(BackupsWindow, CopiesAreRowsToo)
{
    os.settings[L"lsBundle\\Copies\\Folder"] = L"E:\\Copies";
    const auto copy = [this](const std::wstring& computer, const std::wstring& number, const std::string& bytes) {
        const std::wstring folder = L"e:\\copies\\" + computer + L"\\larkspool" + number;
        os.folders.insert(L"e:\\copies\\" + computer);
        os.folders.insert(folder);
        os.files[folder + L"\\larkspool" + number + L".reg"] = bytes;
    };
    os.folders.insert(L"e:\\copies");
    copy(L"homepc", L"010", "a different file");
    platform::RegistryTree old = samples::AddOnKey();
    old[1].values.push_back(Sz(L"erin@example.org", L"Erin"));
    copy(L"homepc", L"3", samples::Regedit4(old));
    copy(L"oldpc", L"12", // the fake lists folders in lower case
         samples::Regedit4(samples::AddOnKey()));
    os.files[L"e:\\copies\\oldpc\\larkspool12\\date created.txt"] =
        "Date Created: 01-05-2025\r\nTime Created: 8:00:00 AM\r\n";
    copy(L"newpc", L"2", samples::Regedit4(old)); // made a day after backup 7
    os.files[L"e:\\copies\\newpc\\larkspool2\\date created.txt"] =
        "Date Created: 12-08-2026\r\nTime Created: 9:00:00 AM\r\n";
    os.holdJobs = true;
    Open();
    // The copies folder may be a share that is slow to answer: it is listed off the window's thread.
    EXPECT_EQ(List().rows.size(), 4u);
    for (const std::wstring& listed : os.CallsNamed(L"ListFolders")) {
        EXPECT_EQ(listed, L"C:\\");
    }
    os.RunJobs();
    Tick();
    std::vector<std::wstring> labels;
    std::vector<std::wstring> copies;
    for (const auto& row : List().rows) {
        labels.push_back(row[0]);
        copies.push_back(row[6]);
    }
    EXPECT_EQ(labels, (std::vector<std::wstring>{L"010", L"7", L"5", L"4", L"3 (copy)", L"2 (newpc)", L"12 (oldpc)"}));
    // 7's copy was missing when its row was read, and made by the catching up meanwhile; 4 is
    // never copied (a file of another key).
    EXPECT_EQ(copies, (std::vector<std::wstring>{L"differs", L"kept", L"", L"missing", L"", L"", L""}));
    EXPECT_EQ(List().rows[6][1], L"01-05-2025 8:00:00 AM");
    EXPECT_EQ(List().rows[4][5], L"differs from now");

    struct Case {
        const char* what;
        std::vector<std::size_t> rows;
        const wchar_t* command;
        std::wstring told; // the comparison, the message or the command line's end
    };
    const Case cases[] = {
        {"compare a copy",
         {4},
         L"cmdCompare",
         L"0 added, 1 removed, 0 changed\r\n"
         L"removed|\\CustomNames|erin@example.org|\"Erin\"|(none)"},
        // Older to newer by the stamps' dates: another computer's copy may be the newer.
        {"compare with another computer's newer copy",
         {1, 5},
         L"cmdCompare",
         L"1 added, 0 removed, 0 changed\r\n"
         L"added|\\CustomNames|erin@example.org|(none)|\"Erin\""},
        {"open a copy's folder", {6}, L"cmdOpenFolder", L" E:\\Copies\\oldpc\\Larkspool12"},
        {"delete a copy",
         {4},
         L"cmdDelete",
         L"Backup 3 (copy) is a copy, not a backup on drive C:; only those are deleted here."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        os.messages.clear();
        Select(c.rows);
        window->Fire(c.command, L"Click");
        os.RunJobs();
        Tick();
        const std::wstring told = !os.messages.empty()                          ? os.messages.back()
                                  : std::wstring(c.command) == L"cmdOpenFolder" ? os.CallsNamed(L"Shell").back()
                                                                                : Shown();
        EXPECT_EQ(told.substr(told.size() - std::min(told.size(), c.told.size())), c.told);
    }
    EXPECT_EQ(os.folders.count(L"e:\\copies\\homepc\\larkspool3"), 1u);

    // Restoring the old computer's copy: named by its path and date, and the key equals it.
    os.holdJobs = false;
    Select({6});
    window->Fire(L"cmdRestore", L"Click");
    ASSERT_EQ(os.questions.size(), 1u);
    EXPECT_EQ(
        os.questions[0].rfind(L"Restore E:\\Copies\\oldpc\\Larkspool12\\Larkspool12.reg of 01-05-2025 8:00:00 AM?", 0),
        0u);
    os.addOnTree = old;
    os.files[L"c:\\larkspool20\\larkspool20.reg"] = samples::Regedit4(os.addOnTree);
    *os.lastExit = 0;
    Tick();
    Tick();
    EXPECT_TRUE(backup::CompareTrees(samples::AddOnKey(), os.addOnTree).empty());
}

TEST_F(BackupsWindow, CompareOneWithNowOrTwoWithEachOther)
{
    Open();
    EXPECT_FALSE(Table().visible) << "the text box shows until a comparison";
    struct Case {
        std::vector<std::size_t> rows;
        std::wstring shown;
    };
    const std::wstring select = L"Select one backup to compare with the list now, or two to compare with each other.";
    const Case cases[] = {
        {{1}, L"Since backup 7: No differences"},
        {{0},
         L"Since backup 010: 1 added, 0 removed, 1 changed\r\n"
         L"changed|\\CustomNames|alice@example.org|\"Alice (old)\"|\"Alice\"\r\n"
         L"added|\\CustomNames|bob@example.org|(none)|\"Bobby\""},
        // From the older backup, 7, to the newer, 010, whatever the lists in them.
        {{0, 1},
         L"From backup 7 to backup 010: 0 added, 1 removed, 1 changed\r\n"
         L"changed|\\CustomNames|alice@example.org|\"Alice\"|\"Alice (old)\"\r\n"
         L"removed|\\CustomNames|bob@example.org|\"Bobby\"|(none)"},
        {{2}, L"Backup 5 cannot be read: The system cannot find the file specified."},
        {{3}, L"Backup 4 is " + std::wstring(kNotABackup)},
        {{1, 3}, L"Backup 4 is " + std::wstring(kNotABackup)},
        {{}, select},
        {{0, 1, 2}, select},
    };
    for (const Case& c : cases) {
        Select(c.rows);
        Key(platform::vbKeyReturn); // Enter compares
        Tick();
        EXPECT_EQ(Shown(), c.shown) << c.rows.size();
    }
    // Enter in the table compares nothing again.
    Select({0});
    Key(platform::vbKeyReturn);
    Tick();
    Select({});
    Key(platform::vbKeyReturn, L"lstCompare");
    EXPECT_TRUE(Table().visible);
    EXPECT_EQ(Table().rows.size(), 2u);
}

// A comparison that fails in an unforeseen way (out of memory) is told in the window, which goes on.
TEST_F(BackupsWindow, FailedComparisonIsTold)
{
    Open();
    os.failing = L"ReadRegistryTree";
    os.outOfMemory = true;
    Select({1});
    window->Fire(L"cmdCompare", L"Click");
    Tick();
    EXPECT_EQ(Shown(), L"The comparison failed: std::bad_alloc");
    EXPECT_TRUE(os.CallsNamed(L"End").empty());
}

// Delete removes exactly the selected folders after a question, asks again for the newest backup
// of the list as it is now, and names a folder it could not delete, which stays a row.
TEST_F(BackupsWindow, DeleteRemovesTheSelectedFolders)
{
    struct Case {
        const char* what;
        std::vector<std::size_t> rows;
        std::vector<bool> answers;
        bool failing;
        std::vector<std::wstring> left;
        std::size_t questions;
        std::wstring copies; // where copies go
    };
    const Case cases[] = {
        {"one that differs", {0}, {true}, false, {L"7", L"5", L"4"}, 1, L""},
        {"two, one of them the list now", {1, 2}, {true, true}, false, {L"010", L"4"}, 2, L""},
        {"the list now, kept at the second question", {1}, {true, false}, false, {L"010", L"7", L"5", L"4"}, 2, L""},
        {"no at the first question", {0, 3}, {false}, false, {L"010", L"7", L"5", L"4"}, 1, L""},
        {"a folder that cannot be deleted", {0, 2}, {true}, true, {L"010", L"7", L"4"}, 1, L""},
        {"a folder that holds the copies folder",
         {0, 2},
         {true},
         false,
         {L"010", L"7", L"4"},
         1,
         L"C:\\Larkspool010\\Copies"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        os = fake::Os();
        SetUp();
        Open();
        std::vector<bool> answers = c.answers;
        os.answers = answers;
        if (c.failing) {
            os.failing = L"RemoveFolder";
            os.failingOnce = true;
        }
        if (!c.copies.empty()) {
            os.folders.insert(fake::Lower(c.copies));
            os.settings[L"lsBundle\\Copies\\Folder"] = c.copies;
        }
        Select(c.rows);
        Key(platform::vbKeyDelete);
        std::vector<std::wstring> left;
        for (const auto& row : List().rows) {
            left.push_back(row[0]);
        }
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(os.questions.size(), c.questions);
        const bool told = c.failing || !c.copies.empty();
        EXPECT_EQ(os.messages.size(), told ? 1u : 0u);
        if (told) {
            EXPECT_NE(os.messages[0].find(L"C:\\Larkspool010"), std::wstring::npos);
        }
        if (!c.copies.empty()) {
            EXPECT_EQ(os.folders.count(fake::Lower(c.copies)), 1u);
        }
    }
}

// The table sorts by the heading clicked, the other way at the second click, its selection going
// with the rows; Ctrl+A selects every row and Ctrl+C or "Copy" puts the selected ones on the
// clipboard, as a spreadsheet takes them.
TEST_F(BackupsWindow, TheTableSortsSelectsAndCopies)
{
    auto& values = os.addOnTree;
    values[0].values[0] = Sz(L"Version", L"2.1");
    values[1].values = {Sz(L"alice@example.org", L"Alice\tA."), Sz(L"carol@example.org", L"Carol\r\nChoir"),
                        Sz(L"dave@example.org", L"He said \"hi\"")};
    Open();
    const auto compare = [this] {
        Select({1});
        window->Fire(L"cmdCompare", L"Click");
        Tick();
    };
    // The rows by their value's first letter.
    const auto order = [this] {
        std::wstring letters;
        for (const auto& row : Table().rows) {
            letters += row[2][0];
        }
        return letters;
    };
    compare();
    ASSERT_EQ(order(), L"Vabcd");
    struct Case {
        int column;
        std::wstring ascending, descending;
    };
    const Case cases[] = {
        {0, L"cdVab", L"bVacd"}, // added, changed, removed; alike rows keep their order
        {1, L"Vabcd", L"abcdV"}, // "\" before "\CustomNames"
        {2, L"abcdV", L"Vdcba"}, // in any letter case
        {3, L"Vabcd", L"cdbaV"}, // quoted texts before "(none)"
        {4, L"Vacdb", L"bdcaV"},
    };
    for (const Case& c : cases) {
        compare();
        Table().selected = {2}; // bob's
        for (const bool descending : {false, true}) {
            platform::EventArgs args;
            args.column = c.column;
            window->Fire(L"lstCompare", L"ColumnClick", args);
            EXPECT_EQ(order(), descending ? c.descending : c.ascending) << c.column;
            EXPECT_EQ(Table().sortColumn, c.column);
            EXPECT_EQ(Table().sortDescending, descending);
            ASSERT_EQ(Table().selected.size(), 1u);
            EXPECT_EQ(Table().rows[Table().selected[0]][2], L"bob@example.org");
        }
    }
    compare();
    EXPECT_EQ(Table().sortColumn, -1) << "a new comparison comes unsorted";

    // Cells with a tab, a line break or quotes are quoted.
    Table().selected = {1, 3};
    window->Fire(L"mnuCopy", L"Click");
    EXPECT_EQ(os.clipboard, L"Change\tKey\tName\tBefore\tAfter\r\n"
                            L"changed\t\\CustomNames\talice@example.org\t\"\"\"Alice\"\"\"\t\"\"\"Alice\tA.\"\"\"\r\n"
                            L"added\t\\CustomNames\tcarol@example.org\t(none)\t\"\"\"Carol\r\nChoir\"\"\"\r\n");
    os.clipboard.clear();
    CtrlKey(L"lstCompare", platform::vbKeyA);
    EXPECT_EQ(Table().selected, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    CtrlKey(L"lstCompare", platform::vbKeyC);
    EXPECT_EQ(std::count(os.clipboard.begin(), os.clipboard.end(), L'\n'), 7) << "a line each, and carol's";
    const std::wstring dave = L"added\t\\CustomNames\tdave@example.org\t(none)\t\"\"\"He said \"\"hi\"\"\"\"\"\r\n";
    EXPECT_EQ(os.clipboard.substr(os.clipboard.size() - std::min(dave.size(), os.clipboard.size())), dave);
    CtrlKey(L"lstBackups", platform::vbKeyA);
    EXPECT_EQ(List().selected, (std::vector<std::size_t>{0, 1, 2, 3}));

    // A clipboard that another program keeps is told; the window goes on.
    os.failing = L"SetClipboardText";
    CtrlKey(L"lstCompare", platform::vbKeyC);
    EXPECT_EQ(os.messages.size(), 1u);
    EXPECT_TRUE(os.CallsNamed(L"End").empty());
}

TEST_F(BackupsWindow, RestoreGoesThroughTheExportOfTheMainWindow)
{
    Open();
    os.addOnTree[1].values.push_back(Sz(L"carol@example.org", L"Carol"));
    Select({0});
    window->Fire(L"cmdRestore", L"Click");
    // The window goes on answering while the safety backup is made, and refuses a second start.
    EXPECT_EQ(Text(), L"Reading backup 010\r\nBacking up the list as it is now: backup 20");
    window->Fire(L"mnuRestore", L"Click"); // the list's menu does as the commands do
    window->Fire(L"mnuDelete", L"Click");
    EXPECT_EQ(os.messages, std::vector<std::wstring>(2, L"A restore is under way. Wait until it has ended."));
    os.messages.clear();
    // The registry tool exports the key as it stands.
    os.files[L"c:\\larkspool20\\larkspool20.reg"] = samples::Regedit4(os.addOnTree);
    *os.lastExit = 0;
    Tick();
    Tick();
    EXPECT_EQ(os.CallsNamed(L"BlockEndOfSession"), (std::vector<std::wstring>{L"Restoring your custom names", L""}));
    ASSERT_EQ(os.messages.size(), 1u);
    EXPECT_EQ(os.messages[0],
              L"Backup 010 restored: 2 values in 2 keys, checked. The list as it was before is backup 20.");
    // The message stands above this window, the steps end with the outcome, and the rows were read
    // again before the message came up.
    EXPECT_EQ(os.CallsNamed(L"Report"), std::vector<std::wstring>{std::to_wstring(window->hWnd())});
    EXPECT_EQ(Text().substr(Text().rfind(L'\n') + 1),
              L"Done: backup 010 is the list now; the list before is backup 20.");
    const auto reported = std::find(os.calls.begin(), os.calls.end(), L"Report " + std::to_wstring(window->hWnd()));
    const auto journalGone = std::find(os.calls.begin(), os.calls.end(), L"DeleteSetting lsBundle\\Restore");
    EXPECT_NE(std::find(journalGone, reported, L"ListFolders C:\\"), reported);
    // The safety backup moved the counter and title on as a click would.
    EXPECT_EQ(program.form->Caption, L"Wrenlet! 2 LarkSpool. (Times Run = 21)");
    EXPECT_EQ(os.Setting(), L"22");
    EXPECT_TRUE(program.form->backupDone());
    // And it is listed now, with its date stamp.
    EXPECT_EQ(List().rows.front()[0], L"20");
    EXPECT_TRUE(os.FileExists(L"C:\\Larkspool20\\Date Created.txt"));
    EXPECT_EQ(List().rows.front()[5], L"differs from now");
}

// Long work tells how far it got beside a bar, which the taskbar button repeats, and both go when
// it ends: the rows being read when they are many, the copies being made, each step of a restore,
// with the share of the values written where the step counts them.
TEST_F(BackupsWindow, LongWorkTellsHowFarItGot)
{
    platform::RegistryTree big = samples::AddOnKey();
    for (int i = 0; i < 1200; ++i) {
        big[1].values.push_back(Sz(L"friend" + std::to_wstring(i), L"F"));
    }
    const std::string stamp = "Date Created: 12-07-2026\r\nTime Created: 3:04:05 PM\r\n";
    Backup(L"11", big, stamp);
    for (int number = 100; number < 150; ++number) { // folders whose files are gone
        os.folders.insert(fake::Lower(backup::BackupFolder(std::to_wstring(number))));
    }
    os.settings[L"lsBundle\\Copies\\Folder"] = L"E:\\Copies";
    os.folders.insert(L"e:\\copies");
    std::vector<std::wstring> shown;
    const auto look = [this, &shown] {
        const platform::Control& bar = (*window)[L"prgWork"];
        shown.push_back((*window)[L"lblCompare"].caption + L" | " +
                        (bar.visible ? std::to_wstring(bar.value) + L"/" + std::to_wstring(bar.maximum) : L"hidden"));
    };
    os.holdJobs = true;
    Open();
    EXPECT_TRUE((*window)[L"prgWork"].taskbar);
    Tick();
    look();
    os.RunJobs(1); // the rows
    Tick();
    look();
    os.onDevice = [&](const std::wstring& path, std::string&) {
        if (path.find(L".reg.") != std::wstring::npos) { // a copy read back
            Tick();
            look();
        }
    };
    os.RunJobs(); // the copies
    os.onDevice = nullptr;
    Tick();
    look();

    const auto row = std::find_if(List().rows.begin(), List().rows.end(), [](const auto& r) { return r[0] == L"11"; });
    Select({static_cast<std::size_t>(row - List().rows.begin())});
    window->Fire(L"cmdRestore", L"Click");
    look();
    os.RunJobs(); // read and asked
    Tick();
    look();
    os.files[L"c:\\larkspool20\\larkspool20.reg"] = samples::Regedit4(os.addOnTree);
    *os.lastExit = 0;
    Tick();
    os.RunJobs(); // the safety backup checked
    Tick();
    look();
    os.onWrite = [&](platform::RegistryTree&) {
        Tick();
        look();
    };
    os.RunJobs(); // the key replaced
    os.onWrite = nullptr;
    Tick();
    look();
    os.RunJobs(); // the rows read again
    Tick();
    look();
    EXPECT_EQ(shown,
              (std::vector<std::wstring>{
                  // Opened: 55 rows to fill (the files of 50 have gone), then the copies missing.
                  L"Reading the backups: 0 of 55 | 0/55", L" | hidden", L"0 of 55 copies made | 50/55",
                  L"1 of 55 copies made | 51/55",
                  L"1 of 55 copies made | 52/55", // backup 010 has no date stamp: no copy
                  L" | hidden",
                  // Steps without a count run as a marquee.
                  L"Reading backup 11 | 0/0", L"Backing up the list as it is now: backup 20 | 0/0",
                  L"Backing up the list as it is now: backup 20 | 0/0", L"Writing 1 203 values in 2 keys: 0% | 0/1203",
                  L"Writing 1 203 values in 2 keys: 0% | 1/1203", L"Writing 1 203 values in 2 keys: 41% | 501/1203",
                  L"Writing 1 203 values in 2 keys: 83% | 1001/1203", L"Reading the backups: 0 of 56 | 0/56",
                  L" | hidden", // the steps have no summary above them
              }));
    ASSERT_EQ(os.messages.size(), 1u);
    EXPECT_EQ(os.messages[0].rfind(L"Backup 11 restored", 0), 0u);
    EXPECT_TRUE(backup::CompareTrees(big, os.addOnTree).empty());
}

// Any file, picked with the system's picker or dropped on the window, goes through the same
// steps; Cancel changes nothing.
TEST_F(BackupsWindow, RestoreFromAFileNamesItAndItsDate)
{
    for (const bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "dropped" : "picked");
        os = fake::Os();
        SetUp();
        Open();
        window->Fire(L"cmdRestoreFromFile", L"Click");
        EXPECT_TRUE(os.questions.empty());
        EXPECT_EQ(os.CallsNamed(L"ChooseFile"), std::vector<std::wstring>{L"Restore From File"});
        platform::RegistryTree stick = os.addOnTree;
        stick[1].values.push_back(Sz(L"dave@example.org", L"Dave"));
        os.files[L"e:\\old pc\\larkspool3\\larkspool3.reg"] = samples::Regedit4(stick);
        os.files[L"e:\\old pc\\larkspool3\\date created.txt"] =
            "Date Created: 11-02-2026\r\nTime Created: 9:00:00 AM\r\n";
        if (dropped) {
            platform::EventArgs args;
            args.path = L"E:\\Old PC\\Larkspool3\\Larkspool3.reg";
            window->Fire(L"Form", L"DropFile", args);
        } else {
            os.chosenFile = L"E:\\Old PC\\Larkspool3\\Larkspool3.reg";
            window->Fire(L"cmdRestoreFromFile", L"Click");
        }
        ASSERT_EQ(os.questions.size(), 1u);
        EXPECT_EQ(os.questions[0].rfind(L"Restore E:\\Old PC\\Larkspool3\\Larkspool3.reg of 11-02-2026 9:00:00 AM?\n\n"
                                        L"The restore brings back 1 name, removes 0 and changes 0.",
                                        0),
                  0u);
        os.files[L"c:\\larkspool20\\larkspool20.reg"] = samples::Regedit4(os.addOnTree);
        *os.lastExit = 0;
        Tick();
        Tick();
        ASSERT_EQ(os.messages.size(), 1u);
        EXPECT_EQ(os.messages[0], L"E:\\Old PC\\Larkspool3\\Larkspool3.reg restored: 4 values in 2 keys, checked. "
                                  L"The list as it was before is backup 20.");
        EXPECT_TRUE(backup::CompareTrees(stick, os.addOnTree).empty());
    }
}

// "Copies...": a folder chosen is tried at once; while copies are on, the user is asked first
// whether to choose another folder or to stop them; the text box says where copies go.
TEST_F(BackupsWindow, CopiesChooseAFolderOrStop)
{
    const std::wstring kSetting = L"lsBundle\\Copies\\Folder";
    Open();
    EXPECT_EQ(Text(), L"");
    window->Fire(L"cmdCopies", L"Click"); // Cancel
    EXPECT_EQ(os.settings.count(kSetting), 0u);
    os.chosenFolder = L"F:\\Gone";
    window->Fire(L"cmdCopies", L"Click");
    EXPECT_EQ(os.settings.count(kSetting), 0u);
    EXPECT_EQ(os.messages.back().rfind(L"Copies cannot be kept in F:\\Gone:\n", 0), 0u);
    os.folders.insert(L"c:\\larkspool7\\copies");
    os.chosenFolder = L"C:\\Larkspool7\\Copies";
    window->Fire(L"cmdCopies", L"Click");
    EXPECT_EQ(os.settings.count(kSetting), 0u);
    EXPECT_EQ(os.messages.back(), L"Copies cannot be kept in C:\\Larkspool7\\Copies:\nit lies in C:\\Larkspool7, a "
                                  L"backup folder that Delete and /keep remove whole.");
    // A stick with an old computer's backups: chosen, they are listed at once.
    for (const wchar_t* folder : {L"e:\\stick", L"e:\\stick\\oldpc", L"e:\\stick\\oldpc\\larkspool12"}) {
        os.folders.insert(folder);
    }
    os.chosenFolder = L"E:\\Stick";
    os.holdJobs = true;
    window->Fire(L"cmdCopies", L"Click");
    os.RunJobs(1); // the rows, not yet the copies
    Tick();
    // The copies are made at once, and on their way they are not missing.
    EXPECT_EQ(List().rows[1][6], L"copying");
    os.RunJobs();
    Tick();
    EXPECT_EQ(List().rows[1][6], L"kept");
    // F5 makes a copy that has gone missing since.
    os.files.erase(L"e:\\stick\\homepc\\larkspool7\\larkspool7.reg");
    Key(platform::vbKeyF5);
    os.RunJobs();
    Tick();
    EXPECT_EQ(List().rows[1][6], L"kept");
    os.holdJobs = false;
    EXPECT_EQ(os.settings[kSetting], L"E:\\Stick");
    EXPECT_EQ(Text(), L"Copies of the backups go to E:\\Stick\\HOMEPC.");
    ASSERT_EQ(List().rows.size(), 5u);
    EXPECT_EQ(List().rows[4][0], L"12 (oldpc)");
    EXPECT_TRUE(os.questions.empty());
    os.answers = {false, false}; // not another folder, not stopped either
    window->Fire(L"cmdCopies", L"Click");
    EXPECT_EQ(os.settings[kSetting], L"E:\\Stick");
    EXPECT_EQ(os.questions.size(), 2u);
    os.answers = {false, true};
    window->Fire(L"cmdCopies", L"Click");
    EXPECT_EQ(os.settings[kSetting], L"");
    EXPECT_EQ(Text(), L"");
    EXPECT_EQ(os.CallsNamed(L"ChooseFolder").size(), 4u);
}

// Closing while the key is being changed asks first, and closes once the key is whole again: here
// the list from before, since the restore had not yet swapped anything in. On No the restore goes
// on; the Exit label asks as closing does; a handler's failure ends the program only once the
// restore has ended as it would have.
TEST_F(BackupsWindow, ClosingDuringARestoreWaitsUntilTheKeyIsWhole)
{
    enum class How { Esc, EscNo, Exit, Failure };
    for (const How how : {How::Esc, How::EscNo, How::Exit, How::Failure}) {
        SCOPED_TRACE(static_cast<int>(how));
        os = fake::Os();
        SetUp();
        Open();
        const platform::RegistryTree before = os.addOnTree;
        os.holdJobs = true;
        Select({0});
        window->Fire(L"cmdRestore", L"Click");
        os.RunJobs();
        Tick(); // the question, then the safety backup
        os.files[L"c:\\larkspool20\\larkspool20.reg"] = samples::Regedit4(os.addOnTree);
        *os.lastExit = 0;
        Tick();
        os.RunJobs();
        Tick(); // checked: the key's replacement starts
        ASSERT_EQ(os.CallsNamed(L"BlockEndOfSession"), std::vector<std::wstring>{L"Restoring your custom names"});
        os.answer = how != How::EscNo;
        if (how == How::Failure) {
            os.failing = L"Shell";
            os.onSleep = [this] { os.RunJobs(); };
            const fake::Ended ended = [this] {
                try {
                    window->Fire(L"mnuOpenFolder", L"Click");
                } catch (const fake::Ended& end) {
                    return end;
                }
                return fake::Ended{-1};
            }();
            EXPECT_EQ(ended.exitCode, 1);
            EXPECT_TRUE(backup::CompareTrees(old010, os.addOnTree).empty()) << "restored whole first";
            EXPECT_EQ(os.settings.count(L"lsBundle\\Restore\\Step"), 0u);
            continue;
        }
        if (how == How::Exit) {
            program.form->Fire(L"cmdExit", L"Click");
        } else {
            Key(platform::vbKeyEscape);
        }
        EXPECT_EQ(os.questions.back().rfind(L"A restore is under way.", 0), 0u);
        EXPECT_NE(program.runtime.calls.back(), L"Unload frmBackups");
        os.RunJobs();
        if (how == How::Exit) {
            EXPECT_THROW(Tick(), fake::Ended) << "the program ends once the key is whole";
        } else {
            Tick();
        }
        EXPECT_EQ(program.runtime.calls.back() == L"Unload frmBackups", how == How::Esc);
        if (how == How::EscNo) {
            EXPECT_EQ(os.messages.back().rfind(L"Backup 010 restored", 0), 0u);
        } else {
            EXPECT_EQ(os.messages.back().rfind(L"Backup 010 was not restored: the restore was stopped.", 0), 0u);
            EXPECT_TRUE(backup::CompareTrees(before, os.addOnTree).empty());
        }
    }
}

// While another LarkSpool restores, Restore and Delete say so and change nothing; a safety backup
// that cannot be made on drive C: refuses the restore with the system's words, as on the command
// line, and the program goes on.
TEST_F(BackupsWindow, RestoreThatCannotGoOnChangesNothing)
{
    const platform::RegistryTree before = os.addOnTree;
    Open();
    os.lockHeldElsewhere = true;
    os.settings[L"lsBundle\\Restore\\Step"] = L"writing";
    Select({0});
    for (const wchar_t* command : {L"cmdRestore", L"cmdDelete"}) {
        window->Fire(command, L"Click");
    }
    os.settings.erase(L"lsBundle\\Restore\\Step"); // a backup holds the lock
    window->Fire(L"cmdDelete", L"Click");
    EXPECT_EQ(os.messages,
              (std::vector<std::wstring>{std::wstring(backup::kAnotherIsRestoring) + L"\n\nNothing was changed.",
                                         backup::kAnotherIsRestoring, backup::kAnotherIsBackingUp}));
    EXPECT_TRUE(os.questions.empty());
    EXPECT_EQ(List().rows.size(), 4u);
    EXPECT_TRUE(os.CallsNamed(L"Shell").empty()) << "no safety backup either";
    os.lockHeldElsewhere = false;
    os.messages.clear();
    os.failing = L"MakeNewDir";
    Select({0});
    window->Fire(L"cmdRestore", L"Click");
    ASSERT_EQ(os.messages.size(), 1u);
    EXPECT_EQ(
        os.messages[0].rfind(L"Backup 010 is not restored: the list as it is now could not be backed up first: ", 0),
        0u)
        << std::string(os.messages[0].begin(), os.messages[0].end());
    EXPECT_NE(os.messages[0].find(L"The device is not ready."), std::wstring::npos);
    EXPECT_TRUE(backup::CompareTrees(before, os.addOnTree).empty());
}

// The safety backup that lacks values is shared with the main window, which may drop it when
// another export is clicked while the question is open.
TEST_F(BackupsWindow, ExportWhileTheRestoreAsksKeepsItsSafetyBackup)
{
    Open();
    os.addOnTree[1].values[0].data = {'a', 0, 0, 0, 'b', 0, 0, 0}; // a NUL inside: the tool cannot write it
    Select({0});
    window->Fire(L"cmdRestore", L"Click");
    platform::RegistryTree written = os.addOnTree;
    written[1].values[0] = Sz(L"alice@example.org", L"a");
    os.files[L"c:\\larkspool20\\larkspool20.reg"] = samples::Regedit4(written);
    *os.lastExit = 0;
    os.whileAsked = [this] { os.whileAsked = [this] { program.form->Fire(L"cmdExport", L"Click"); }; };
    Tick();
    ASSERT_EQ(os.questions.size(), 2u);
    EXPECT_NE(os.questions[1].find(L"lacks values"), std::wstring::npos);
    Tick();
    ASSERT_FALSE(os.messages.empty());
    EXPECT_EQ(os.messages.back().rfind(L"Backup 010 restored", 0), 0u);
}

// The catching up of copies, which may wait for a slow share, is let go when the window closes:
// the window opened again never waits for it, and catches up afresh.
TEST_F(BackupsWindow, EscapeCloses)
{
    os.settings[L"lsBundle\\Copies\\Folder"] = L"E:\\Copies";
    os.folders.insert(L"e:\\copies");
    os.holdJobs = true;
    Open();
    Key(platform::vbKeyEscape);
    EXPECT_EQ(program.runtime.calls.back(), L"Unload frmBackups");
    Open();
    EXPECT_TRUE(os.CallsNamed(L"WaitForJob").empty());
    os.RunJobs();
    EXPECT_TRUE(os.FileExists(L"E:\\Copies\\HOMEPC\\Larkspool7\\Larkspool7.reg"));
}

} // namespace
