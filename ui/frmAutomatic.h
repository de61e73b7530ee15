// The Automatic window: when the Task Scheduler makes a backup by itself, switched on, changed or
// off. OK registers the choice with the Task Scheduler; Cancel changes nothing.
#pragma once

#include "platform/forms.h"

#include <memory>
#include <string>

namespace ui {

class frmAutomatic : public platform::Form {
public:
    frmAutomatic(platform::Os& system, platform::Runtime& forms);

    static platform::Layout Layout();

private:
    void Form_Load();
    void Form_Resize();
    void Form_Unload(platform::EventArgs& args);
    void cmdOK_Click();
    void cmdCancel_Click();
    void tmrRegister_Timer();

    // The Task Scheduler may take its time: the window answers meanwhile and closes once it has.
    std::unique_ptr<platform::Job> registering_;
    bool closeWhenRegistered_ = false;
};

// "Automatic backups: every Sunday at 12:00 - last on 6 Dec at 12:00: <how it went>", for the
// line under the list of backups.
std::wstring AutomaticState(platform::Os& os);

} // namespace ui
