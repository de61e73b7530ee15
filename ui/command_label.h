// The command labels of both windows act as buttons: white on blue under the mouse,
// black on white otherwise.
#pragma once

#include "platform/forms.h"

#include <span>

namespace ui {

constexpr platform::Color kHighlightBack = 0xCA9162;
constexpr platform::Color kHighlightText = 0xFFFFFF;
constexpr platform::Color kNormalBack = 0xFFFFFF;
constexpr platform::Color kNormalText = 0x000000;

inline void Highlight(platform::Control& label)
{
    label.backColor = kHighlightBack;
    label.foreColor = kHighlightText;
}

inline void Reset(platform::Control& label)
{
    label.backColor = kNormalBack;
    label.foreColor = kNormalText;
}

// The form's command labels back to normal: the pointer has left them.
inline void Reset(platform::Form& form, std::span<const wchar_t* const> commands)
{
    for (const wchar_t* command : commands) {
        Reset(form[command]);
    }
}

// A command label of the Backups window and the windows it opens.
inline platform::Control CommandLabel(const wchar_t* name, const wchar_t* caption, int left, int width,
                                      wchar_t accessKey, int top = 120)
{
    platform::Control label{.name = name, .caption = caption, .left = left, .top = top, .width = width, .height = 255};
    label.backColor = kNormalBack;
    label.border = true;
    label.centered = true;
    label.command = true;
    label.accessKey = accessKey;
    return label;
}

} // namespace ui
