// The About window: a fixed explanatory text and an "Exit" label that closes it.
#pragma once

#include "platform/forms.h"

namespace ui {

class frmAbout : public platform::Form {
public:
    frmAbout(platform::Os& system, platform::Runtime& forms);

    static platform::Layout Layout();
    static std::wstring AboutText();

private:
    void cmdExit_Click();
    void cmdExit_MouseMove();
    void Form_MouseMove();
    void Label1_MouseMove();
    void Form_Resize();
    void Form_KeyDown(const platform::EventArgs& args);
};

} // namespace ui
