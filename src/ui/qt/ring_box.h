// The combo box of a ring. Its items keep the model's whole labels (the operator's pick is
// handed back to the model as the label seen), and a label wider than the box is still
// shown whole: the open list is as wide as the widest item, the closed box shows the current
// label elided in the middle ("jex-log-07…093000.dat"), and the whole label is its tooltip
// and its accessible name. GUI thread only.
#pragma once

#include <QComboBox>
#include <QStringList>

namespace ostrel::ui::qt {

class RingBox : public QComboBox {
  public:
    explicit RingBox(QWidget *parent = nullptr);

    // Shows `labels` (kept when they are the items already) with `index` current (-1: none).
    void showItems(const QStringList &labels, int index);

    // The text the closed box shows: the current label, elided in the middle when wider
    // than the box's text field.
    QString shownText() const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    bool hasItems(const QStringList &labels) const;
    void fitListToItems();
    void describeCurrent();
    int textFieldWidth() const;
};

}  // namespace ostrel::ui::qt
