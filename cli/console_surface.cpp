#include "cli/console_surface.h"

#include <utility>

namespace vendrake::cli {

ConsoleSurface::ConsoleSurface(std::u16string source, std::u16string destination,
                               std::u16string scale)
    : source_(std::move(source)), destination_(std::move(destination)), scale_(std::move(scale)) {}

}  // namespace vendrake::cli
