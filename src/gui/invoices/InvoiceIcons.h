#pragma once

// The pictures of the new-invoice review, drawn in code at the screen's device-pixel ratio so
// that they stay sharp on a high-resolution screen.

#include <QPixmap>
#include <QSize>

namespace dm {

enum class TEmailIconSet {
    Normal, // 0 no e-mail, 1 e-mail to a customer not yet enrolled, 2 e-mail to an enrolled customer
    NoMail, // every kind shows that no e-mail goes
};

inline constexpr QSize EmailIconSize{15, 17};
inline constexpr QSize PaperClipSize{16, 16};

// The icon of an e-mail kind; a kind outside 0 to 2 shows as 0 (no e-mail).
const QPixmap& EmailIcon(TEmailIconSet set, int kind, qreal devicePixelRatio);
const QPixmap& PaperClip(qreal devicePixelRatio);

} // namespace dm
