#pragma once

#include <QString>

// Texts and looks that several parts of the window share.
namespace ShellTexts
{

// Row 0 of the category list is every category; the others are the codes 1..13.
QString categoryName(int row);
QString allSoftware();
// "name (count)", the text of a category item once counted.
QString countText(const QString &name, int count);
QString noResult();
// The busy mark of column 12.
QString busy();
QString idle();
QString homeTableStyle();
QString upgradeTableStyle();
QString emptyTextStyle();

} // namespace ShellTexts
