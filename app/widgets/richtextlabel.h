#pragma once

#include "widgets/shownonlyinsight.h"

#include <QLabel>

#include <memory>

class QTextDocument;

// A label whose text is rich text, drawn exactly as QLabel draws rich text, but holding its
// laid-out document only while it is shown: a QLabel keeps one for life, some 20 KiB, which
// thousands of table rows, most of them out of sight, cannot afford. text() is the rich text
// as given.
class RichTextLabel : public ShownOnlyInSight<QLabel>
{
    Q_OBJECT

public:
    explicit RichTextLabel(const QString &html, QWidget *parent = nullptr);
    ~RichTextLabel() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Built as QLabel builds its own, laid out for the current width.
    QTextDocument &document();

    std::unique_ptr<QTextDocument> m_document;
};
