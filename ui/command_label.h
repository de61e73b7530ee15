// The command labels of both windows act as buttons: white on blue under the mouse,
// black on white otherwise.
#pragma once

#include "platform/forms.h"

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

} // namespace ui
