#include "artwork.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace {

const QColor kNavy(24, 52, 96);
const QColor kBlue(46, 110, 184);
const QColor kTeal(32, 150, 150);
const QColor kFolder(236, 190, 72);
const QColor kFolderEdge(176, 128, 30);
const QColor kGreen(54, 160, 74);
const QColor kRed(196, 56, 48);
const QColor kGrey(96, 96, 96);

QPixmap Blank(int w, int h) {
  QPixmap p(w, h);
  p.fill(Qt::transparent);
  return p;
}

// A transparent w x h picture, painted by `draw` with smoothing on.
template <class Draw>
QPixmap Paint(int w, int h, Draw draw) {
  QPixmap pm = Blank(w, h);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  draw(p);
  p.end();
  return pm;
}

// A database drum in the rectangle r.
void DrawCylinder(QPainter& p, const QRectF& r, const QColor& body) {
  const qreal cap = r.height() * 0.22;
  QLinearGradient g(r.topLeft(), r.topRight());
  g.setColorAt(0, body.darker(130));
  g.setColorAt(0.45, body.lighter(140));
  g.setColorAt(1, body.darker(150));
  QPainterPath side;
  side.moveTo(r.left(), r.top() + cap / 2);
  side.lineTo(r.left(), r.bottom() - cap / 2);
  side.arcTo(QRectF(r.left(), r.bottom() - cap, r.width(), cap), 180, 180);
  side.lineTo(r.right(), r.top() + cap / 2);
  side.closeSubpath();
  p.setPen(QPen(body.darker(200), r.width() > 20 ? 1.5 : 1.0));
  p.setBrush(g);
  p.drawPath(side);
  // Rings between the platters.
  p.setBrush(Qt::NoBrush);
  for (qreal f : {0.42, 0.68}) {
    const qreal y = r.top() + (r.height() - cap) * f;
    p.drawArc(QRectF(r.left(), y, r.width(), cap), 180 * 16, 180 * 16);
  }
  p.setBrush(body.lighter(160));
  p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
}

void DrawFolder(QPainter& p, const QRectF& r) {
  QPainterPath tab;
  tab.addRoundedRect(QRectF(r.left(), r.top(), r.width() * 0.45, r.height() * 0.3), 1.5, 1.5);
  p.setPen(QPen(kFolderEdge, 1));
  p.setBrush(kFolder.darker(110));
  p.drawPath(tab);
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, kFolder.lighter(125));
  g.setColorAt(1, kFolder);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.18, r.width(), r.height() * 0.82), 1.5, 1.5);
}

void DrawGrid(QPainter& p, const QRectF& r, int columns, int rows, int highlightColumn = -1) {
  p.setPen(QPen(kNavy, 1));
  p.setBrush(Qt::white);
  p.drawRect(r);
  const qreal header = r.height() / (rows + 1);
  p.fillRect(QRectF(r.left() + 0.5, r.top() + 0.5, r.width() - 1, header), kBlue);
  if (highlightColumn >= 0) {
    const qreal cw = r.width() / columns;
    p.fillRect(QRectF(r.left() + cw * highlightColumn + 0.5, r.top() + header, cw - 1, r.height() - header - 0.5),
               QColor(250, 214, 96));
  }
  p.setPen(QPen(kNavy.lighter(180), 1));
  for (int i = 1; i < columns; ++i) {
    const qreal x = r.left() + r.width() * i / columns;
    p.drawLine(QPointF(x, r.top() + header), QPointF(x, r.bottom()));
  }
  for (int j = 1; j <= rows; ++j) {
    const qreal y = r.top() + header * j;
    p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
  }
}

void DrawKey(QPainter& p, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c.darker(160), 1));
  p.setBrush(c);
  const qreal d = r.height() * 0.55;
  p.drawEllipse(QRectF(r.left(), r.center().y() - d / 2, d, d));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(r.left() + d * 0.3, r.center().y() - d * 0.15, d * 0.3, d * 0.3));
  p.setBrush(c);
  const qreal shaft = r.height() * 0.16;
  p.drawRect(QRectF(r.left() + d * 0.9, r.center().y() - shaft / 2, r.width() - d * 0.9, shaft));
  p.drawRect(QRectF(r.right() - r.width() * 0.18, r.center().y(), r.width() * 0.1, r.height() * 0.25));
  p.drawRect(QRectF(r.right() - r.width() * 0.38, r.center().y(), r.width() * 0.1, r.height() * 0.18));
}

void DrawBolt(QPainter& p, const QRectF& r, const QColor& c) {
  QPolygonF bolt;
  bolt << QPointF(r.left() + r.width() * 0.6, r.top())
       << QPointF(r.left() + r.width() * 0.15, r.top() + r.height() * 0.58)
       << QPointF(r.left() + r.width() * 0.45, r.top() + r.height() * 0.58)
       << QPointF(r.left() + r.width() * 0.35, r.bottom())
       << QPointF(r.left() + r.width() * 0.85, r.top() + r.height() * 0.38)
       << QPointF(r.left() + r.width() * 0.55, r.top() + r.height() * 0.38);
  p.setPen(QPen(c.darker(170), 1));
  p.setBrush(c);
  p.drawPolygon(bolt);
}

void DrawGear(QPainter& p, const QPointF& centre, qreal radius, const QColor& c) {
  QPainterPath gear;
  const int teeth = 8;
  for (int i = 0; i < teeth * 2; ++i) {
    const qreal a = 3.14159265 * i / teeth;
    const qreal rr = (i % 2) ? radius * 0.72 : radius;
    const QPointF pt(centre.x() + rr * std::cos(a), centre.y() + rr * std::sin(a));
    if (i == 0)
      gear.moveTo(pt);
    else
      gear.lineTo(pt);
  }
  gear.closeSubpath();
  gear.addEllipse(centre, radius * 0.3, radius * 0.3);
  p.setPen(QPen(c.darker(170), 1));
  p.setBrush(c);
  p.drawPath(gear);
}

void DrawArrow(QPainter& p, const QPointF& from, const QPointF& to, const QColor& c, qreal width) {
  p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(from, to);
  const QLineF line(to, from);
  QLineF a = line;
  a.setLength(width * 2.4);
  a.setAngle(line.angle() + 35);
  QLineF b = line;
  b.setLength(width * 2.4);
  b.setAngle(line.angle() - 35);
  QPolygonF head;
  head << to << a.p2() << b.p2();
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawPolygon(head);
}

// Text in the rectangle, at the given size or smaller where it would not fit its width.
void DrawText(QPainter& p, const QRectF& r, const QString& text, int pixelSize, int weight, const QColor& c,
              int flags = Qt::AlignCenter) {
  QFont f("DejaVu Sans");
  f.setWeight(QFont::Weight(weight));
  for (int size = pixelSize; size >= 6; --size) {
    f.setPixelSize(size);
    if (QFontMetricsF(f).horizontalAdvance(text) <= r.width()) break;
  }
  p.setFont(f);
  p.setPen(c);
  p.drawText(r, flags, text);
}

// The life ring of the program's mark, drawn over a drum: red and white quarters with an
// edge, so the white ones show on a white ground too.
void DrawRing(QPainter& p, const QPointF& c, qreal radius) {
  const qreal w = radius * 0.42;
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 4; ++i) {
    p.setPen(QPen(i % 2 ? Qt::white : kRed, w, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(c.x() - radius, c.y() - radius, radius * 2, radius * 2), (45 + 90 * i) * 16, 90 * 16);
  }
  p.setPen(QPen(kRed.darker(150), std::max<qreal>(0.8, radius / 12)));
  p.drawEllipse(c, radius + w / 2, radius + w / 2);
  p.drawEllipse(c, radius - w / 2, radius - w / 2);
}

void DrawMark(QPainter& p, const QRectF& r) {
  DrawCylinder(p, QRectF(r.left() + r.width() * 0.1, r.top(), r.width() * 0.62, r.height() * 0.9), kBlue);
  DrawRing(p, QPointF(r.left() + r.width() * 0.7, r.top() + r.height() * 0.66), r.width() * 0.22);
}

}  // namespace

QPixmap BannerPixmap() {
  return Paint(632, 60, [](QPainter& p) {
    QLinearGradient g(0, 0, 632, 0);
    g.setColorAt(0, kNavy);
    g.setColorAt(0.65, kBlue);
    g.setColorAt(1, kTeal);
    p.fillRect(QRect(0, 0, 632, 60), g);
    // Faint page grid: the 8 KB pages the program reads.
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    for (int x = 300; x < 632; x += 14) p.drawLine(x, 0, x, 60);
    for (int y = 4; y < 60; y += 14) p.drawLine(300, y, 632, y);
    DrawMark(p, QRectF(14, 7, 48, 48));
    DrawText(p, QRectF(74, 6, 420, 30), "Tarnwell Brackmoor", 24, QFont::Bold, Qt::white,
             Qt::AlignLeft | Qt::AlignVCenter);
    DrawText(p, QRectF(76, 34, 520, 20), "SQL Server 2000 / 2005 / 2008 backup and database recovery", 12,
             QFont::Normal, QColor(220, 232, 246), Qt::AlignLeft | Qt::AlignVCenter);
  });
}

QPixmap SplashPixmap() {
  return Paint(380, 200, [](QPainter& p) {
    QLinearGradient g(0, 0, 0, 200);
    g.setColorAt(0, kNavy);
    g.setColorAt(1, kBlue.darker(120));
    p.fillRect(QRect(0, 0, 380, 200), g);
    p.fillRect(QRect(0, 150, 380, 50), QColor(255, 255, 255, 235));
    DrawMark(p, QRectF(22, 30, 96, 96));
    DrawText(p, QRectF(130, 36, 236, 40), "Tarnwell Brackmoor", 25, QFont::Bold, Qt::white,
             Qt::AlignLeft | Qt::AlignVCenter);
    DrawText(p, QRectF(132, 78, 240, 22), "SQL Server recovery", 15, QFont::Normal, QColor(220, 232, 246),
             Qt::AlignLeft | Qt::AlignVCenter);
    DrawText(p, QRectF(132, 102, 240, 20), "Version 4.10", 12, QFont::Normal, QColor(190, 210, 236),
             Qt::AlignLeft | Qt::AlignVCenter);
    DrawText(p, QRectF(16, 150, 348, 50), "Backups and database files of SQL Server 2000, 2005 and 2008", 12,
             QFont::Normal, kNavy, Qt::AlignLeft | Qt::AlignVCenter);
    p.setPen(QPen(kNavy, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(0, 0, 379, 199));
  });
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64})
    icon.addPixmap(Paint(size, size, [size](QPainter& p) { DrawMark(p, QRectF(0, size * 0.05, size, size * 0.95)); }));
  return icon;
}

QPixmap TreeImage(int index) {
  return Paint(16, 16, [index](QPainter& p) {
    const QRectF full(1, 1, 14, 14);
    switch (index) {
      case 0:  // root and database
        DrawCylinder(p, QRectF(2.5, 1, 11, 14), kBlue);
        break;
      case 1:  // Tables folder
        DrawFolder(p, QRectF(0.5, 2, 15, 12));
        DrawGrid(p, QRectF(6.5, 7.5, 8, 6), 2, 2);
        break;
      case 2:  // views
        p.setPen(QPen(kNavy, 1));
        p.setBrush(QColor(222, 236, 252));
        p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(3.5, 5, 9, 6));
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(6, 6, 4, 4));
        break;
      case 3:  // Stored Procedures folder
        DrawFolder(p, QRectF(0.5, 2, 15, 12));
        DrawGear(p, QPointF(10.5, 10.5), 4.2, kGrey.lighter(130));
        break;
      case 4:  // table
        DrawGrid(p, QRectF(1.5, 2.5, 13, 11), 3, 3);
        break;
      case 5:  // column and stored procedure
        DrawGrid(p, QRectF(1.5, 2.5, 13, 11), 3, 3, 1);
        break;
      case 6:  // "Columns"
        p.setPen(QPen(kNavy, 1));
        for (int i = 0; i < 3; ++i) {
          p.setBrush(i == 1 ? QColor(250, 214, 96) : QColor(222, 236, 252));
          p.drawRect(QRectF(1.5 + i * 4.6, 2.5, 3.6, 11));
        }
        break;
      case 7:  // rules: a ruler
        p.setPen(QPen(kFolderEdge, 1));
        p.setBrush(kFolder);
        p.drawRect(QRectF(1.5, 5.5, 13, 5));
        for (int x = 3; x < 15; x += 2) p.drawLine(QPointF(x + 0.5, 5.5), QPointF(x + 0.5, x % 4 == 1 ? 9 : 7.5));
        break;
      case 8:  // triggers
        DrawBolt(p, full, QColor(240, 180, 20));
        break;
      case 9:  // "Keys"
        DrawKey(p, QRectF(1, 3, 14, 10), QColor(224, 176, 40));
        break;
      case 10: {  // indexes
        p.setPen(QPen(kNavy, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 1.5, 10, 13));
        p.setPen(QPen(kBlue, 1.2));
        for (int y = 4; y < 14; y += 3) p.drawLine(QPointF(3.5, y + 0.5), QPointF(9.5, y + 0.5));
        DrawArrow(p, QPointF(13.5, 3), QPointF(13.5, 13.5), kGreen, 1.4);
        break;
      }
      case 11:  // functions
        DrawText(p, QRectF(0, 0, 16, 16), "fx", 11, QFont::Bold, QColor(120, 60, 160));
        break;
      default:
        break;
    }
  });
}

QPixmap ToolbarPixmap(ToolbarImage image) {
  return Paint(50, 50, [image](QPainter& p) {
    const QRectF art(9, 3, 32, 32);
    QString caption;
    switch (image) {
      case ToolbarImage::Load:
        caption = "Load";
        DrawFolder(p, QRectF(5, 10, 34, 24));
        DrawCylinder(p, QRectF(26, 4, 16, 20), kBlue);
        break;
      case ToolbarImage::OpenScan:
        caption = "Open Scan";
        p.setPen(QPen(kNavy, 1.2));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(11.5, 4.5, 22, 28));
        p.setPen(QPen(kBlue, 1.5));
        for (int y = 10; y < 28; y += 5) p.drawLine(QPointF(15, y), QPointF(30, y));
        p.setPen(QPen(kNavy, 3));
        p.setBrush(QColor(255, 255, 255, 170));
        p.drawEllipse(QRectF(24, 16, 12, 12));
        p.drawLine(QPointF(34, 26), QPointF(40, 33));
        break;
      case ToolbarImage::SaveScan: {
        caption = "Save Scan";
        p.setPen(QPen(kNavy.darker(120), 1.2));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(10.5, 4.5, 29, 29), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(15.5, 4.5, 19, 11));
        p.setBrush(kNavy);
        p.drawRect(QRectF(28, 6.5, 4, 7));
        p.setBrush(QColor(230, 230, 230));
        p.drawRect(QRectF(14.5, 21.5, 21, 12));
        break;
      }
      case ToolbarImage::Export:
        caption = "Export";
        DrawCylinder(p, QRectF(7, 5, 20, 28), kBlue);
        DrawArrow(p, QPointF(22, 20), QPointF(43, 20), kGreen, 3.5);
        break;
      case ToolbarImage::Support: {
        caption = "Support";
        DrawRing(p, art.center(), 12);
        break;
      }
      case ToolbarImage::Help:
        caption = "Help";
        p.setPen(QPen(kBlue.darker(140), 1.5));
        p.setBrush(kBlue);
        p.drawEllipse(art.adjusted(2, 2, -2, -2));
        DrawText(p, art, "?", 24, QFont::Bold, Qt::white);
        break;
      case ToolbarImage::Exit: {
        caption = "Exit";
        p.setPen(QPen(kRed, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(art.adjusted(4, 5, -4, -3), 120 * 16, 300 * 16);
        p.drawLine(QPointF(art.center().x(), art.top() + 2), QPointF(art.center().x(), art.center().y() + 1));
        break;
      }
    }
    DrawText(p, QRectF(1, 36, 48, 13), caption, 10, QFont::Normal, Qt::black);
  });
}
