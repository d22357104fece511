#pragma once

namespace CommandLineParse {

/// Saves the mode in force as the saved mode, then asks the platform for the
/// requested one. Returns true when the platform took it. When the mode in
/// force cannot be read, nothing is saved or changed; when the change is
/// abandoned on an error or refused, the saved mode is put back as it was.
bool ApplyDisplayMode(const float& width, const float& height, const float& depth, const float& refreshRate);

}  // namespace CommandLineParse
