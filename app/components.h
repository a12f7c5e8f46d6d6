// The window's component kinds that Qt has no exact counterpart for: a non-visual file-open
// dialog that keeps its settings, a static text that sizes itself and shows the end of a
// long text, a push button that draws its picture and caption as one centred group, and a
// bevel drawn as a single line along its top edge. All of them live on the UI thread.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace tolvex::app {

// Holds the dialog's title, filter and the chosen file name; Execute shows a modal dialog.
class TOpenDialog : public QObject {
    Q_OBJECT
  public:
    explicit TOpenDialog(QObject* parent);

    QString FileName;
    QString Title;
    QString Filter;  // "Description|patterns" pairs

    // Modal over `owner`. True with FileName set to the chosen file, false when cancelled
    // (FileName unchanged).
    bool Execute(QWidget* owner);
};

// Right-justified text that sizes itself to its text up to a maximum width. A text wider than
// the room it has is cut at its start ("...name.tvu"), so that the end stays in view.
class TStaticText : public QLabel {
    Q_OBJECT
  public:
    // `maxWidth`: the widest the control grows; `visibleWidth`: the room up to its owner's
    // edge, which may be less.
    TStaticText(QWidget* parent, int maxWidth, int visibleWidth);

    void SetCaption(const QString& caption);
    const QString& Caption() const { return caption_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void Fit();

    QString caption_;
    int maxWidth_;
    int visibleWidth_;
};

// A push button that never takes the keyboard focus and shows its picture and its caption
// side by side, centred as a group, with a fixed gap; '&' marks the accelerator.
class TSpeedButton : public QAbstractButton {
    Q_OBJECT
  public:
    explicit TSpeedButton(QWidget* parent);

    void SetGlyph(const QPixmap& glyph);
    const QPixmap& Glyph() const { return glyph_; }
    static constexpr int kSpacing = 5;  // between the picture and the caption

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap glyph_;
};

// A lowered line along the top edge of the control's rectangle.
class TBevel : public QWidget {
    Q_OBJECT
  public:
    explicit TBevel(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tolvex::app
