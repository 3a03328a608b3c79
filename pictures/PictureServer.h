#pragma once
// The picture helper's side: decodes what the program sends, within the helper's limits, and
// answers with pixels in sealed shared memory or with the failure's text.

namespace platform {

// Says hello on `fd`, then answers requests until the socket closes. Returns the exit status.
int ServePictures(int fd);

}  // namespace platform
