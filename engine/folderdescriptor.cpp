#include "engine/folderdescriptor.h"

#include <unistd.h>

namespace veltrane {

FolderDescriptor::~FolderDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace veltrane
