#pragma once

#include <QString>

// The thirteen catalog categories: code "1".."13" in column type, and their Chinese names.
namespace Category
{

constexpr int Count = 13;

// The name of a code 1..13; empty for any other code.
QString name(int code);
// The code of a name; 0 when the name is not a category.
int code(const QString &name);

} // namespace Category
