// A draggable bar between two panes. A bar narrower than tall is vertical and is dragged
// sideways; otherwise it is horizontal. While the mouse is held, a drag line follows it
// inside the range; on release the parent is told how far the bar moved and resizes its
// panes, after which the layout puts the bar at its new place.
#pragma once

#include <QWidget>

#include "ui/core/splitterrange.h"

class CSplitterControl : public QWidget {
  Q_OBJECT

 public:
  enum Orientation { Vertical = 1, Horizontal = 2 };
  static constexpr int kThickness = 5;

  // The rectangle decides the orientation and the bar's place; the bar is made
  // kThickness pixels across, keeping its left (or top) edge.
  CSplitterControl(const QRect& rect, QWidget* parent, int id);

  // The bar may go `lower` pixels before and `upper` pixels after `root`. A negative root
  // is the bar's centre when it is first pressed: with layouts the bar has no place before
  // the window is first laid out.
  void SetRange(int lower, int upper, int root = -1);
  SplitterRange Range() const { return m_range; }
  Orientation GetOrientation() const { return m_nOrientation; }
  int Id() const { return m_nId; }
  // Centre of the bar along its axis, in the parent's coordinates.
  int Centre() const;

 signals:
  // new position - drag start; 0 for a click without a move.
  void moved(int distance);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void ResolveRange();
  void ShowDragLine();
  int ParentPosition(QMouseEvent* event) const;

  int m_nId;
  Orientation m_nOrientation;
  bool m_bPressed = false;
  int m_nCurrent = 0;
  int m_nDragStart = 0;
  SplitterRange m_range;
  int m_nLower = 0, m_nUpper = 0;
  bool m_bRangePending = false;
  QWidget* m_pDragLine = nullptr;
};
