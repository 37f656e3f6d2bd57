#pragma once

#include "Progress.h"

// A progress the test reads: whether it is shown and its value (-1 before any).
class FakeProgress : public Progress {
public:
    void Show() override { shown = true; }
    void Hide() override { shown = false; }
    void SetValue(int percent) override { value = percent; }

    bool shown = false;
    int value = -1;
};
