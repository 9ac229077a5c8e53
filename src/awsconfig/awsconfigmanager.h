#pragma once

namespace tessera {
// The AWS CLI config manager lives here.
} // namespace tessera
