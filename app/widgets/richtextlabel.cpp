#include "widgets/richtextlabel.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QPainter>
#include <QTextDocument>
#include <QTextFrame>

RichTextLabel::RichTextLabel(const QString &html, QWidget *parent) : QLabel(parent)
{
    // Kept as plain text, so that QLabel builds no document of its own.
    setTextFormat(Qt::PlainText);
    setText(html);
}

QTextDocument &RichTextLabel::sharedDocument()
{
    // Owned by the application: it goes before the application's fonts do.
    static QTextDocument *document = [] {
        auto *shared = new QTextDocument(qApp);
        shared->setUndoRedoEnabled(false);
        return shared;
    }();
    return *document;
}

void RichTextLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);

    // What QLabel does with its own document, step by step.
    QTextDocument &document = sharedDocument();
    document.setDefaultFont(font());
    document.setHtml(text());
    QTextOption option = document.defaultTextOption();
    option.setAlignment(alignment());
    option.setWrapMode(wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap);
    document.setDefaultTextOption(option);
    QTextFrameFormat frame = document.rootFrame()->frameFormat();
    frame.setMargin(0);
    document.rootFrame()->setFrameFormat(frame);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    document.setTextWidth(area.width());

    const qreal height = document.documentLayout()->documentSize().height();
    qreal top = 0;
    if (alignment() & Qt::AlignVCenter)
        top = qMax((area.height() - height) / 2, qreal(0));
    else if (alignment() & Qt::AlignBottom)
        top = qMax(area.height() - height, qreal(0));
    const QRect layout =
        QRectF(area.x(), top + area.y(), area.width(), area.height()).toAlignedRect();

    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    if (foregroundRole() != QPalette::Text && isEnabled())
        context.palette.setColor(QPalette::Text, context.palette.color(foregroundRole()));
    painter.translate(layout.topLeft());
    painter.setClipRect(layout.translated(-layout.x(), -layout.y()));
    document.documentLayout()->draw(&painter, context);
}
