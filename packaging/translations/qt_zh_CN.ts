<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>QLineEdit</name>
    <message><source>&amp;Undo</source><translation>撤销(&amp;U)</translation></message>
    <message><source>&amp;Redo</source><translation>恢复(&amp;R)</translation></message>
    <message><source>Cu&amp;t</source><translation>剪切(&amp;T)</translation></message>
    <message><source>&amp;Copy</source><translation>复制(&amp;C)</translation></message>
    <message><source>&amp;Paste</source><translation>粘贴(&amp;P)</translation></message>
    <message><source>Delete</source><translation>删除</translation></message>
    <message><source>Select All</source><translation>全选</translation></message>
</context>
<context>
    <name>QWidgetTextControl</name>
    <message><source>&amp;Undo</source><translation>撤销(&amp;U)</translation></message>
    <message><source>&amp;Redo</source><translation>恢复(&amp;R)</translation></message>
    <message><source>Cu&amp;t</source><translation>剪切(&amp;T)</translation></message>
    <message><source>&amp;Copy</source><translation>复制(&amp;C)</translation></message>
    <message><source>Copy &amp;Link Location</source><translation>复制链接地址(&amp;L)</translation></message>
    <message><source>&amp;Paste</source><translation>粘贴(&amp;P)</translation></message>
    <message><source>Delete</source><translation>删除</translation></message>
    <message><source>Select All</source><translation>全选</translation></message>
</context>
<context>
    <name>QScrollBar</name>
    <message><source>Scroll here</source><translation>滚动到这里</translation></message>
    <message><source>Left edge</source><translation>左边缘</translation></message>
    <message><source>Top</source><translation>顶部</translation></message>
    <message><source>Right edge</source><translation>右边缘</translation></message>
    <message><source>Bottom</source><translation>底部</translation></message>
    <message><source>Page left</source><translation>向左翻页</translation></message>
    <message><source>Page up</source><translation>向上翻页</translation></message>
    <message><source>Page right</source><translation>向右翻页</translation></message>
    <message><source>Page down</source><translation>向下翻页</translation></message>
    <message><source>Scroll left</source><translation>向左滚动</translation></message>
    <message><source>Scroll up</source><translation>向上滚动</translation></message>
    <message><source>Scroll right</source><translation>向右滚动</translation></message>
    <message><source>Scroll down</source><translation>向下滚动</translation></message>
</context>
<context>
    <name>QPlatformTheme</name>
    <message><source>OK</source><translation>确定</translation></message>
    <message><source>Cancel</source><translation>取消</translation></message>
    <message><source>Close</source><translation>关闭</translation></message>
    <message><source>Yes</source><translation>是</translation></message>
    <message><source>No</source><translation>否</translation></message>
    <message><source>Apply</source><translation>应用</translation></message>
    <message><source>Help</source><translation>帮助</translation></message>
</context>
<context>
    <name>QDialogButtonBox</name>
    <message><source>OK</source><translation>确定</translation></message>
    <message><source>&amp;OK</source><translation>确定(&amp;O)</translation></message>
    <message><source>Cancel</source><translation>取消</translation></message>
    <message><source>&amp;Cancel</source><translation>取消(&amp;C)</translation></message>
    <message><source>Close</source><translation>关闭</translation></message>
    <message><source>&amp;Close</source><translation>关闭(&amp;C)</translation></message>
</context>
<context>
    <name>QMessageBox</name>
    <message><source>OK</source><translation>确定</translation></message>
    <message><source>Show Details...</source><translation>显示详细信息...</translation></message>
    <message><source>Hide Details...</source><translation>隐藏详细信息...</translation></message>
</context>
<context>
    <name>QShortcut</name>
    <message><source>Ctrl</source><translation>Ctrl</translation></message>
    <message><source>Shift</source><translation>Shift</translation></message>
</context>
</TS>
