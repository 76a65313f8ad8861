#pragma once

#include <QLabel>

class QTextDocument;

// A label whose text is rich text, drawn exactly as QLabel draws rich text, but laid out only
// while it is painted, in one document that all such labels share: a QLabel keeps a text
// document of its own for life, some 20 KiB, which thousands of table rows cannot afford.
// text() is the rich text as given.
class RichTextLabel : public QLabel
{
    Q_OBJECT

public:
    explicit RichTextLabel(const QString &html, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static QTextDocument &sharedDocument();
};
