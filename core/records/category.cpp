#include "records/category.h"

#include <array>

namespace Category
{

static const std::array<const char *, Count> &names()
{
    static const std::array<const char *, Count> table = {
        "办公应用", "编程开发", "行业应用", "教育学习", "实用工具", "视频应用", "图形图像",
        "网络应用", "系统工具", "压缩刻录", "音频应用", "游戏娱乐", "其他应用",
    };
    return table;
}

QString name(int code)
{
    if (code < 1 || code > Count)
        return QString();
    return QString::fromUtf8(names()[code - 1]);
}

int code(const QString &name)
{
    for (int i = 0; i < Count; ++i)
        if (name == QString::fromUtf8(names()[i]))
            return i + 1;
    return 0;
}

} // namespace Category
