// The main window's command labels light up under the mouse; a right-click offers the popup menu,
// which opens drive C: or the Backups window; the picture opens the add-on's web site and
// "About" shows the About window.
#include "app/Form1.h"
#include "backup/backup_paths.h"
#include "ui/command_label.h"

namespace {

constexpr int kRightButton = 2;
constexpr wchar_t kWebSite[] = L"http://www.zephrix.com/wrenlet/";

} // namespace

void Form1::cmdExport_MouseMove()
{
    ui::Highlight((*this)[L"cmdExport"]);
}

void Form1::cmdExit_MouseMove()
{
    ui::Highlight((*this)[L"cmdExit"]);
}

void Form1::cmdAbout_MouseMove()
{
    ui::Highlight((*this)[L"cmdAbout"]);
}

void Form1::Form_MouseMove()
{
    ResetCommandLabels();
}

void Form1::Label1_MouseMove()
{
    ResetCommandLabels();
}

void Form1::ResetCommandLabels()
{
    ui::Reset((*this)[L"cmdExport"]);
    ui::Reset((*this)[L"cmdExit"]);
    ui::Reset((*this)[L"cmdAbout"]);
}

void Form1::chkOpen_MouseDown(const platform::EventArgs& args)
{
    if (args.button == kRightButton) {
        PopupMenu(L"mnu1");
    }
}

void Form1::mn2_Click()
{
    os.Shell(backup::FileBrowserCommandLine(os.WindowsPath(), L"C:\\"), platform::vbNormalFocus);
}

void Form1::Image1_Click()
{
    os.Shell(backup::FileBrowserCommandLine(os.WindowsPath(), kWebSite), platform::vbMinimizedFocus);
}

void Form1::mn3_Click()
{
    if (!backups_) {
        backups_ = std::make_unique<ui::frmBackups>(os, runtime, [this] { return ExportAsClicked(); });
        backups_->RefuseRestores(restoresRefused_);
    }
    backups_->Show(1);
}

void Form1::cmdAbout_Click()
{
    if (!about_) {
        about_ = std::make_unique<ui::frmAbout>(os, runtime);
    }
    about_->Show(1);
}
