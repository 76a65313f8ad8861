#pragma once

#include <QString>

// The names the window shows for the standard test packages.
const QString Hello = QStringLiteral("你好世界");
const QString Editor = QStringLiteral("文本编辑器");
const QString Player = QStringLiteral("影音播放器");
