// The combo box of a ring. Its items keep the model's whole labels, byte for byte (the
// operator's pick is handed back to the model as the label seen), and a label wider than the
// box is still shown whole: the open list is as wide as the widest item, the closed box shows
// the current label elided in the middle ("jex-log-07…093000.dat"), and the whole label is
// its tooltip and its accessible name. GUI thread only.
#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QList>

namespace ostrel::ui::qt {

class RingBox : public QComboBox {
  public:
    explicit RingBox(QWidget *parent = nullptr);

    // Shows `labels` (kept when they are the items already) with `index` current (-1: none).
    // A label is the model's bytes, kept as the item's Qt::UserRole; it is shown as UTF-8,
    // a byte that is not valid UTF-8 as the replacement character (a module name from an
    // adapter library may be any bytes).
    void showItems(const QList<QByteArray> &labels, int index);

    // The model's label of item `index`, exactly as showItems had it (not the text shown,
    // which the replacement characters may have changed); an item added otherwise gives its
    // text as UTF-8.
    QByteArray labelAt(int index) const;

    // The text the closed box shows: the current label, elided in the middle when wider
    // than the box's text field.
    QString shownText() const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    bool hasItems(const QList<QByteArray> &labels) const;
    void fitListToItems();
    void describeCurrent();
    int textFieldWidth() const;
};

}  // namespace ostrel::ui::qt
