// One run of the program on the fake platform: start, click, exit.
#pragma once

#include "app/Form1.h"
#include "fake_os.h"

#include <gtest/gtest.h>

#include <memory>

struct Program {
    fake::Os& os;
    fake::Runtime runtime;
    std::unique_ptr<Form1> form;

    explicit Program(fake::Os& system) : os(system) {}

    Form1& Start()
    {
        form = std::make_unique<Form1>(os, runtime);
        runtime.Run(*form);
        return *form;
    }
    void Click(const wchar_t* control) { form->Fire(control, L"Click"); }
    void Export() { Click(L"cmdExport"); }
    void Tick() { form->Fire(L"Timer1", L"Timer"); }
    void Exit() { EXPECT_THROW(Click(L"cmdExit"), fake::Ended); }
    int RunNumberInTitle() const
    {
        const std::wstring& title = form->Caption;
        const auto open = title.rfind(L"= ");
        return std::stoi(title.substr(open + 2, title.size() - open - 3));
    }
    platform::Control& operator[](const wchar_t* name) { return (*form)[name]; }
};
