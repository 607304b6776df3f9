// SPDX-License-Identifier: Apache-2.0
#pragma once

// Declarations shared by the group headers. Quaternions are always stored x, y, z, w.

namespace Kel {

template <typename Scalar>
class SO3;
template <typename Scalar>
class SO3Tangent;
template <typename Scalar>
class SE3;

template <typename Derived>
class SO3Base;
template <typename Derived>
class SO3TangentBase;
template <typename Derived>
class LieGroupBase;

namespace internal {
/// Per type: Scalar, the storage (DataType) and, for SE3, the view type of its rotation part.
template <typename T>
struct traits;
}  // namespace internal

}  // namespace Kel
