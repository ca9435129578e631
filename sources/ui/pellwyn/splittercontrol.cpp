#include "splittercontrol.h"

#include <QMouseEvent>
#include <QPainter>
#include <qdrawutil.h>

namespace {

const QColor kFill(220, 220, 220);
const QColor kLine(200, 200, 200);

// The drag line: two 1-pixel lines, one before and one after the bar's would-be centre,
// drawn in the parent over whatever lies below (no screen drawing: compositors forbid it).
class DragLine : public QWidget {
 public:
  DragLine(QWidget* parent, bool vertical) : QWidget(parent), m_bVertical(vertical) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(kLine);
    if (m_bVertical) {
      p.drawLine(0, 0, 0, height() - 1);
      p.drawLine(2, 0, 2, height() - 1);
    } else {
      p.drawLine(0, 0, width() - 1, 0);
      p.drawLine(0, 2, width() - 1, 2);
    }
  }

 private:
  bool m_bVertical;
};

}  // namespace

CSplitterControl::CSplitterControl(const QRect& rect, QWidget* parent, int id)
    : QWidget(parent), m_nId(id), m_nOrientation(rect.width() < rect.height() ? Vertical : Horizontal) {
  setObjectName(QStringLiteral("id%1").arg(id));
  QRect r = rect;
  if (m_nOrientation == Vertical) {
    r.setWidth(kThickness);
    setFixedWidth(kThickness);
    setCursor(Qt::SplitHCursor);
  } else {
    r.setHeight(kThickness);
    setFixedHeight(kThickness);
    setCursor(Qt::SplitVCursor);
  }
  setGeometry(r);
  m_pDragLine = new DragLine(parent, m_nOrientation == Vertical);
  SetRange(0, 0, -1);
}

int CSplitterControl::Centre() const {
  const QRect g = geometry();
  return m_nOrientation == Vertical ? g.left() + g.width() / 2 : g.top() + g.height() / 2;
}

void CSplitterControl::SetRange(int lower, int upper, int root) {
  m_nLower = lower;
  m_nUpper = upper;
  m_bRangePending = root < 0;
  if (!m_bRangePending) m_range = SplitterRange::Around(root, lower, upper);
}

void CSplitterControl::ResolveRange() {
  if (!m_bRangePending) return;
  m_range = SplitterRange::Around(Centre(), m_nLower, m_nUpper);
  m_bRangePending = false;
}

void CSplitterControl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  // A 3-D frame, then the face inside it.
  qDrawShadeRect(&p, r, palette(), false, 1);
  const QRect face = r.adjusted(1, 1, -1, -1);
  p.fillRect(face, kFill);
  p.setPen(kLine);
  p.drawRect(face.adjusted(0, 0, -1, -1));
}

int CSplitterControl::ParentPosition(QMouseEvent* event) const {
  const QPoint inParent = mapToParent(event->position().toPoint());
  return m_nOrientation == Vertical ? inParent.x() : inParent.y();
}

void CSplitterControl::ShowDragLine() {
  const QRect g = geometry();
  if (m_nOrientation == Vertical) m_pDragLine->setGeometry(m_nCurrent - 1, g.top(), 3, g.height());
  else m_pDragLine->setGeometry(g.left(), m_nCurrent - 1, g.width(), 3);
  m_pDragLine->show();
  m_pDragLine->raise();
}

void CSplitterControl::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  ResolveRange();
  m_bPressed = true;
  m_nCurrent = Centre();
  m_nDragStart = m_nCurrent;
  ShowDragLine();
}

void CSplitterControl::mouseMoveEvent(QMouseEvent* event) {
  if (!m_bPressed) return QWidget::mouseMoveEvent(event);
  m_nCurrent = m_range.Clamp(ParentPosition(event));
  ShowDragLine();
}

void CSplitterControl::mouseReleaseEvent(QMouseEvent* event) {
  if (!m_bPressed || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  m_pDragLine->hide();
  m_bPressed = false;
  if (parentWidget()) emit moved(m_nCurrent - m_nDragStart);
  QWidget::mouseReleaseEvent(event);
}
