// Small text helpers of the window. UI thread or any thread: they only compute.
#pragma once

#include <QString>
#include <QStringList>

namespace tolvex::app {

// The longest name part the window shows.
inline constexpr qsizetype kMaxNamePart = 256;

// The file name part of `path`: everything after the last '\', ':' or '/', the whole path
// when none occurs, empty when the path ends in one; cut to kMaxNamePart characters (never
// between the two halves of a surrogate pair).
//
// '/' counts everywhere: it is the POSIX separator, Windows accepts it too, and Qt's file
// dialog returns "C:/fw/new.tvu" even on Windows.
QString NamePart(const QString& path);

// A dialog filter written as "Description|patterns|Description|patterns" (patterns separated
// by ';') in the form Qt's file dialog shows: one "Description (patterns)" entry per pair,
// the patterns not repeated when the description already ends with them.
QStringList QtNameFilters(const QString& pipeFilter);

}  // namespace tolvex::app
