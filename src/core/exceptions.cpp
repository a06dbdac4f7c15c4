#include "core/exceptions.h"

QString ExceptionMessage(const std::exception& e)
{
    if (auto* own = dynamic_cast<const Exception*>(&e))
        return own->Message();
    return QString::fromLocal8Bit(e.what());
}
