// corvane-helpdoc SOURCE.html OUTPUT.pdf: renders the user guide with Qt's own PDF writer.
#include <QFile>
#include <QGuiApplication>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: corvane-helpdoc SOURCE.html OUTPUT.pdf\n");
        return 2;
    }
    QFile source(args.at(1));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "corvane-helpdoc: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    QTextDocument document;
    document.setDefaultFont(QFont(QStringLiteral("Noto Sans CJK SC"), 11));
    document.setHtml(QString::fromUtf8(source.readAll()));

    QPdfWriter writer(args.at(2));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    writer.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
    writer.setCreator(QStringLiteral("Corvane"));
    document.print(&writer);
    return QFile::exists(args.at(2)) ? 0 : 1;
}
