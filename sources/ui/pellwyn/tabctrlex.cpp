#include "tabctrlex.h"

#include <QPainter>

#include "ui/pellwyn/style.h"

CTabCtrlEx::CTabCtrlEx(QWidget* parent) : QTabBar(parent) {
  setDrawBase(false);
  setExpanding(false);
  // The bar holds one tab whose caption is cut to a fixed length: arrows to scroll it are never
  // of use, and a bar laid out for a shorter caption would otherwise show them.
  setUsesScrollButtons(false);
  setFont(TabCaptionFont());
}

void CTabCtrlEx::SetSingleTab(const QString& caption) {
  while (count() > 0) removeTab(0);
  addTab(caption);
}

QSize CTabCtrlEx::tabSizeHint(int index) const {
  const QFontMetrics metrics(TabCaptionFont());
  const QString text = tabText(index).left(kMaxCaption);
  return QSize(metrics.horizontalAdvance(text) + 16, metrics.height() + 10);
}

void CTabCtrlEx::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(TabCaptionFont());
  for (int i = 0; i < count(); ++i) {
    const QRect r = tabRect(i);
    p.fillRect(r, kTabColour);
    p.setPen(QColor(200, 200, 200));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(Qt::black);
    p.drawText(r.adjusted(6, 4, -4, -2), Qt::AlignLeft | Qt::AlignTop, tabText(i).left(kMaxCaption));
  }
}
