// An editable text field for a path. A path too long for the field shows its end, elided at
// the start with "…" (the end is what tells two paths apart; the plain field would show its
// tail from wherever the cursor left it, which reads like another path); the whole path is
// the tooltip and the accessible name. While the operator edits, the field holds the whole
// path. GUI thread.
#pragma once

#include <QLineEdit>

namespace ostrel::ui {

class PathField final : public QLineEdit {
  public:
    explicit PathField(QWidget *parent = nullptr);

    // Shows `path`: whole while the field has the focus, elided to fit otherwise.
    void setPath(const QString &path);
    const QString &path() const { return path_; }

  protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    void showFitted();

    QString path_;
};

}  // namespace ostrel::ui
