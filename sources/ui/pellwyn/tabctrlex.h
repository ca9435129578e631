// The one tab above the record list, captioned with the previewed table's name, drawn flat
// in light grey with a heavy caption.
#pragma once

#include <QTabBar>

class CTabCtrlEx : public QTabBar {
  Q_OBJECT

 public:
  static constexpr int kMaxCaption = 99;
  explicit CTabCtrlEx(QWidget* parent = nullptr);
  // Replaces the single tab by one with this caption.
  void SetSingleTab(const QString& caption);

 protected:
  void paintEvent(QPaintEvent* event) override;
  QSize tabSizeHint(int index) const override;
};
