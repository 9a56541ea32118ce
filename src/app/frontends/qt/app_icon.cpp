#include "app_icon.h"

#include <QString>

// The resource initialiser has to be called from the global namespace; the
// library is static, so the resources are not registered on their own.
static void InitTorvaneResources() { Q_INIT_RESOURCE(torvane); }

namespace torvane {

QIcon LoadAppIcon() {
  InitTorvaneResources();
  QIcon icon;
  for (const int size : {16, 32, 48}) {
    icon.addFile(QStringLiteral(":/icons/torvane-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace torvane
