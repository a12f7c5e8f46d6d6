#include "app/components.h"

#include <QEvent>
#include <QFileDialog>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

#include "app/name_part.h"

namespace tolvex::app {

TOpenDialog::TOpenDialog(QObject* parent) : QObject(parent) {}

bool TOpenDialog::Execute(QWidget* owner) {
    QFileDialog dialog(owner, Title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(QtNameFilters(Filter));
    if (!FileName.isEmpty()) {
        dialog.selectFile(FileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    FileName = dialog.selectedFiles().constFirst();
    return true;
}

TStaticText::TStaticText(QWidget* parent, int maxWidth, int visibleWidth)
    : QLabel(parent), maxWidth_(maxWidth), visibleWidth_(std::min(visibleWidth, maxWidth)) {
    setAlignment(Qt::AlignRight | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
}

void TStaticText::SetCaption(const QString& caption) {
    caption_ = caption;
    Fit();
}

void TStaticText::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        Fit();
    }
}

void TStaticText::Fit() {
    const QFontMetrics metrics(font());
    const QString shown = metrics.elidedText(caption_, Qt::ElideLeft, visibleWidth_);
    setText(shown);
    const int width = std::min(metrics.horizontalAdvance(shown), maxWidth_);
    resize(width, height());
    setToolTip(shown == caption_ ? QString() : caption_);
}

TSpeedButton::TSpeedButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void TSpeedButton::SetGlyph(const QPixmap& glyph) {
    glyph_ = glyph;
    update();
}

QSize TSpeedButton::sizeHint() const {
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(QString(text()).remove(u'&'));
    return {glyph_.width() + kSpacing + textWidth + 12,
            std::max(glyph_.height(), metrics.height()) + 2};
}

void TSpeedButton::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const QString caption = text();
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(QString(caption).remove(u'&'));
    const QSize glyphSize = glyph_.deviceIndependentSize().toSize();
    const int groupWidth = glyphSize.width() + kSpacing + textWidth;
    const int shift = isDown() ? 1 : 0;
    const int left = (width() - groupWidth) / 2 + shift;
    const QRect glyphRect(QPoint(left, (height() - glyphSize.height()) / 2 + shift), glyphSize);
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    painter.drawPixmap(glyphRect.topLeft(),
                       QIcon(glyph_).pixmap(glyphSize, devicePixelRatio(), mode));

    const QRect textRect(glyphRect.right() + 1 + kSpacing, shift, textWidth + 1, height());
    painter.drawItemText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                         palette(), isEnabled(), caption, QPalette::ButtonText);
}

TBevel::TBevel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent* /*event*/) {
    // A lowered line: shadow above, highlight below.
    QPainter painter(this);
    painter.setPen(QColor(0xA0, 0xA0, 0xA0));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.setPen(Qt::white);
    painter.drawLine(0, 1, width() - 1, 1);
}

}  // namespace tolvex::app
