#pragma once
#include <QString>

// The short manual installed with the program, for Help > Pixtrawl Help.
class THelpFile {
public:
    static constexpr char FileName[] = "pixtrawl-help.html";
    // Beside an installed program (its share/doc/pixtrawl), else in the
    // source tree of a build that was not installed; empty when neither has it.
    static QString Path();
};
