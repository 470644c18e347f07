// The root of the objects that can be assigned to one another (a bitmap to an
// image object, an image object to another). Assign dispatches on the source's
// class and names it in its refusal.
#pragma once

#include <string>

namespace vornesk {

class TPersistent {
 public:
  virtual ~TPersistent() = default;
  virtual std::string ClassName() const = 0;
};

}  // namespace vornesk
