// The main window itself: its layout, start-up and the two ways of ending the program.
#include "app/Form1.h"
#include "backup/automatic.h"
#include "ui/command_label.h"

using platform::Control;
using platform::ControlKind;
using platform::EventArgs;

namespace {

constexpr platform::Color kTextBlue = 0x00B6703D;
constexpr int kPictureResource = 101;

Control CommandLabel(const wchar_t* name, const wchar_t* caption, int left, int width, int tabIndex, wchar_t accessKey)
{
    Control label = ui::CommandLabel(name, caption, left, width, accessKey, 1680);
    label.backColor = platform::vbWindowBackground; // the window's, until the pointer comes
    label.tabIndex = tabIndex;
    return label;
}

} // namespace

platform::Layout Form1::Layout()
{
    platform::Layout layout;
    layout.name = L"Form1";
    layout.backColor = 0x00FFFFFF;
    layout.frame = platform::Frame::SizableToolWindow;
    layout.clientWidth = 5295;
    layout.clientHeight = 2370;

    Control chkOpen{.name = L"chkOpen",
                    .kind = ControlKind::CheckBox,
                    .caption = L"Open Folder After Export",
                    .left = 1680,
                    .top = 2040,
                    .width = 2295,
                    .height = 255};
    chkOpen.backColor = 0x00FFFFFF;
    chkOpen.foreColor = kTextBlue;
    chkOpen.tabIndex = 6;
    chkOpen.toolTip = L"Right-Click for another option.";
    chkOpen.accessKey = L'O';

    Control timer1{.name = L"Timer1", .kind = ControlKind::Timer};
    timer1.enabled = false;
    timer1.interval = 500;
    timer1.visible = false;

    // Runs only while a copy is under way, so that its outcome shows as soon as it is known.
    Control tmrCopy{.name = L"tmrCopy", .kind = ControlKind::Timer};
    tmrCopy.enabled = false;
    tmrCopy.interval = 25;
    tmrCopy.visible = false;

    // Lies below the client area: seen only when the user enlarges the window downwards.
    Control text1{.name = L"Text1",
                  .kind = ControlKind::TextBox,
                  .caption = L"Text1",
                  .left = 120,
                  .top = 2880,
                  .width = 5055,
                  .height = 4845};
    text1.tabIndex = 0;

    Control label2{
        .name = L"Label2", .caption = L"Size of LarkSpool", .left = 120, .top = 1200, .width = 2055, .height = 195};
    label2.transparent = true;
    label2.foreColor = kTextBlue;
    label2.tabIndex = 5;
    label2.visible = false;
    label2.autoSize = true;
    label2.liveRegion = true;

    // The copy of a checked backup, when copies are on: a line of its own under the size.
    Control label3{.name = L"Label3", .caption = L"", .left = 120, .top = 1410, .width = 2055, .height = 195};
    label3.transparent = true;
    label3.foreColor = kTextBlue;
    label3.tabIndex = 5;
    label3.visible = false;
    label3.autoSize = true;
    label3.liveRegion = true;

    Control label1{.name = L"Label1", .left = 120, .top = 120, .width = 4995, .height = 795};
    label1.transparent = true;
    label1.foreColor = kTextBlue;
    label1.tabIndex = 4;
    label1.centered = true;
    label1.wordWrap = true;

    Control image1{
        .name = L"Image1", .kind = ControlKind::Picture, .left = 0, .top = 1920, .width = 450, .height = 375};
    image1.crossCursor = true;
    image1.toolTip = L"Wrenlet! Web Site";
    image1.picture = kPictureResource;
    image1.accessibleName = L"Wrenlet web site";

    // Tab goes through the command labels as they stand, left to right, then to the check box.
    Control cmdExport = CommandLabel(L"cmdExport", L"Export Custom Names", 2520, 1695, 2, L'E');
    cmdExport.backColor = 0x00FFFFFF;
    cmdExport.toolTip = L"Right-click for your backups.";

    layout.controls = {chkOpen,
                       timer1,
                       tmrCopy,
                       text1,
                       label2,
                       label3,
                       label1,
                       image1,
                       CommandLabel(L"cmdAbout", L"About", 1680, 735, 1, L'A'),
                       CommandLabel(L"cmdExit", L"Exit", 4320, 735, 3, L'x'),
                       cmdExport};
    layout.menus = {{.name = L"mnu1", .caption = L"", .parent = L"", .visible = false},
                    {.name = L"mn2", .caption = L"Open Containing Folder", .parent = L"mnu1", .visible = true},
                    {.name = L"mn3", .caption = L"Backups...", .parent = L"mnu1", .visible = true},
                    // Alt+Space and the window's icon lead there too.
                    {.name = L"mnuSystem", .caption = L"", .parent = L"", .visible = false},
                    {.name = L"mnsBackups", .caption = L"&Backups...", .parent = L"mnuSystem", .visible = true},
                    {.name = L"mnsAbout", .caption = L"&About LarkSpool", .parent = L"mnuSystem", .visible = true}};
    layout.contextMenu = L"mnu1";
    layout.systemMenu = L"mnuSystem";
    layout.defaultCommand = L"cmdExport";
    return layout;
}

Form1::Form1(platform::Os& system, platform::Runtime& forms) : Form(system, forms, Layout())
{
    On(L"Form_Load", [this](EventArgs&) { Form_Load(); });
    On(L"Form_Activate", [this](EventArgs&) { Form_Activate(); });
    On(L"Form_Unload", [this](EventArgs& args) { Form_Unload(args); });
    On(L"cmdExit_Click", [this](EventArgs&) { cmdExit_Click(); });
    On(L"cmdExport_Click", [this](EventArgs&) { cmdExport_Click(); });
    On(L"cmdAbout_Click", [this](EventArgs&) { cmdAbout_Click(); });
    On(L"cmdExport_MouseMove", [this](EventArgs&) { cmdExport_MouseMove(); });
    On(L"cmdExit_MouseMove", [this](EventArgs&) { cmdExit_MouseMove(); });
    On(L"cmdAbout_MouseMove", [this](EventArgs&) { cmdAbout_MouseMove(); });
    On(L"Form_MouseMove", [this](EventArgs&) { Form_MouseMove(); });
    On(L"Label1_MouseMove", [this](EventArgs&) { Label1_MouseMove(); });
    On(L"chkOpen_MouseDown", [this](const EventArgs& args) { chkOpen_MouseDown(args); });
    // A right-click anywhere on the window offers the same menu as on the check box.
    for (const wchar_t* control :
         {L"Form", L"Label1", L"Label2", L"Label3", L"Image1", L"cmdExport", L"cmdAbout", L"cmdExit"}) {
        On(std::wstring(control) + L"_MouseDown", [this](const EventArgs& args) { chkOpen_MouseDown(args); });
    }
    On(L"mn2_Click", [this](EventArgs&) { mn2_Click(); });
    On(L"mn3_Click", [this](EventArgs&) { mn3_Click(); });
    On(L"mnsBackups_Click", [this](EventArgs&) { mn3_Click(); });
    On(L"mnsAbout_Click", [this](EventArgs&) { cmdAbout_Click(); });
    On(L"Image1_Click", [this](EventArgs&) { Image1_Click(); });
    On(L"Timer1_Timer", [this](EventArgs&) { Timer1_Timer(); });
    On(L"tmrCopy_Timer", [this](EventArgs&) { CopyCheckedBackups(); });
    beforeFailureEnds = [this] {
        if (backups_) {
            backups_->FinishRestore();
        }
    };
}

Form1::~Form1()
{
    *copiesStop_ = true; // before the copies' jobs are waited for
}

void Form1::Form_Load()
{
    onTop.emplace(os);
    // A restore cut off by a crash is finished or undone before anything else looks at the key.
    // One that another LarkSpool is running is waited for; while it still runs, it is not ours to tell.
    if (const std::optional<backup::Recovery> recovery = backup::RecoverInterruptedRestore(os);
        recovery && !recovery->busy) {
        os.MsgBox(recovery->message,
                  recovery->failed ? platform::MessageKind::Error : platform::MessageKind::Information);
        if (recovery->failed) {
            restoresRefused_ = recovery->message;
        }
    }
    // An automatic run that failed or warned is told once, at the next start of the window.
    if (const std::optional<std::wstring> automatic = backup::AutomaticRunToTell(os)) {
        backup::AutomaticRunTold(os);
        os.MsgBox(*automatic, platform::MessageKind::Error);
    }
    RefreshRunCount();
    SetSizeCaptionRunNumber(timesRun_);
}

// The size caption and the size monitor name the backup file of this run number.
void Form1::SetSizeCaptionRunNumber(const std::wstring& runNumber)
{
    sizeCaptionPrefix_ = L"Size of LarkSpool " + runNumber + L".reg is: ";
    startupRunNumber_ = runNumber;
}

void Form1::Form_Activate()
{
    if (!onTop) {
        onTop.emplace(os);
    }
    onTop->MakeTopMost(hWnd());
}

// A restore that changes the key is never cut off: the program then ends once the key is whole.
void Form1::cmdExit_Click()
{
    if (backups_ && !backups_->MayEnd(platform::vbFormControlMenu, [this] { cmdExit_Click(); })) {
        return;
    }
    WriteDateStamps();
    did_backup();
    os.End();
}

// Closing is refused only while a restore changes the key: the program then ends once the key
// is whole again, or, when Windows ends the session, as soon as the restore allows.
void Form1::Form_Unload(EventArgs& args)
{
    if (backups_ && !backups_->MayEnd(args.unloadMode, [this] { cmdExit_Click(); })) {
        args.cancel = 1;
        return;
    }
    WriteDateStamps();
    did_backup();
    os.End();
}
