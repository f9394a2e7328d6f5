#include "base/vector.h"

namespace tallo {

double* Vector::mutable_data() {
    make_unique();
    return block_ ? block_->data() : &inline_;
}

}  // namespace tallo
