// The panel's picture: a 97 x 80 grey-tone image of a receiver antenna.
#pragma once

#include <QPixmap>

namespace ostrel::ui::qt {

QPixmap receiverPicture();

}  // namespace ostrel::ui::qt
