#include "grid/grid_ctrl.h"

// Anchors the cells' virtual table in this library.
CGridCellBase::~CGridCellBase() = default;
