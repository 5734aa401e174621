#pragma once

#include <QString>

#include "ports/types.h"

// The window's edge: the core speaks code page 936, Qt speaks UTF-16. Every text that crosses
// between them goes through these two, so the conversion rules live in one place.
namespace kestrova::app {

QString FromAnsi(const AnsiText& text);
AnsiText ToAnsi(const QString& text);

}  // namespace kestrova::app
