#include "widgets/richtextlabel.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextDocument>
#include <QTextFrame>

RichTextLabel::RichTextLabel(const QString &html, QWidget *parent) : ShownOnlyInSight(parent)
{
    // Kept as plain text, so that QLabel builds no document of its own.
    setTextFormat(Qt::PlainText);
    setText(html);
}

RichTextLabel::~RichTextLabel() = default;

QTextDocument &RichTextLabel::document()
{
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    if (!m_document) {
        // What QLabel does with its own document, step by step.
        m_document = std::make_unique<QTextDocument>();
        m_document->setUndoRedoEnabled(false);
        m_document->setDefaultFont(font());
        m_document->setHtml(text());
        QTextOption option = m_document->defaultTextOption();
        option.setAlignment(alignment());
        option.setWrapMode(wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap);
        m_document->setDefaultTextOption(option);
        QTextFrameFormat frame = m_document->rootFrame()->frameFormat();
        frame.setMargin(0);
        m_document->rootFrame()->setFrameFormat(frame);
    }
    if (m_document->textWidth() != area.width())
        m_document->setTextWidth(area.width());
    return *m_document;
}

void RichTextLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);

    QTextDocument &laidOut = document();
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const qreal height = laidOut.documentLayout()->documentSize().height();
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
    laidOut.documentLayout()->draw(&painter, context);
}

void RichTextLabel::hideEvent(QHideEvent *event)
{
    // Out of sight it holds only its text.
    m_document.reset();
    QLabel::hideEvent(event);
}

void RichTextLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange)
        m_document.reset();
    QLabel::changeEvent(event);
}
