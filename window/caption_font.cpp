#include "window/caption_font.h"

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QString>
#include <algorithm>
#include <array>
#include <vector>

#include "window/twips.h"
#include "window/window_description.h"

namespace vendrake::window {
namespace {

constexpr double kDescribedPointSize = 8.0;
// Below this the captions would fit but no longer be read with ease.
constexpr double kSmallestPointSize = 6.0;
constexpr double kPointStep = 0.5;

// The window was drawn for MS Sans Serif, narrower than most desktop faces
// ("Destination:" took about 60 pixels). A narrower face keeps the height the
// description was made for, so it is tried before a smaller size.
constexpr std::array kStretches{QFont::Unstretched, QFont::SemiCondensed, QFont::Condensed};

bool Overlap(const ControlDescription& a, const ControlDescription& b) {
  return a.left < b.left + b.width && b.left < a.left + a.width && a.top < b.top + b.height &&
         b.top < a.top + a.height;
}

// Twips of `label`, from its left edge, over which no box or button lies; a
// caption drawn further right is hidden, since labels lie beneath the boxes.
int UncoveredWidth(const ControlDescription& label) {
  int width = label.width;
  for (const ControlDescription& other : kForm1Controls) {
    if (other.kind == ControlKind::kLabel || !Overlap(label, other)) continue;
    width = std::min(width, std::max(0, other.left - label.left));
  }
  return width;
}

struct Caption {
  const QLabel* label;
  int room;  // pixels
};

bool AllFit(const std::vector<Caption>& captions) {
  return std::all_of(captions.begin(), captions.end(), [](const Caption& caption) {
    const QFontMetrics metrics = caption.label->fontMetrics();
    return metrics.horizontalAdvance(caption.label->text()) <= caption.room &&
           metrics.height() <= caption.label->height();
  });
}

}  // namespace

void FitCaptionFont(QWidget& form) {
  std::vector<Caption> captions;
  for (const ControlDescription& description : kForm1Controls) {
    if (description.kind != ControlKind::kLabel) continue;
    captions.push_back({form.findChild<QLabel*>(QString::fromLatin1(description.name)),
                        TwipsToPixels(static_cast<float>(UncoveredWidth(description)))});
  }
  QFont font = form.font();
  // A font under which nothing fits leaves the smallest, narrowest one tried.
  for (double points = kDescribedPointSize; points >= kSmallestPointSize; points -= kPointStep) {
    for (const QFont::Stretch stretch : kStretches) {
      font.setPointSizeF(points);
      font.setStretch(stretch);
      form.setFont(font);
      if (AllFit(captions)) return;
    }
  }
}

}  // namespace vendrake::window
