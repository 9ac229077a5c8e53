#pragma once

namespace tessera {
// The Quick Search model lives here.
} // namespace tessera
