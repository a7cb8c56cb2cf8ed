// The eight cabinets the package names in its Media table, in the order they
// are written: resource type, resource id, file name format. Each name is the
// format with the four version components of the build profile in place of
// the %s, and ".cab". cmake/Profile.cmake reads this table to name the
// payload files and embed each under the key written here: keep one row per
// line, in this shape.
CABINET_ROW("ORVA_CAB6", 107, "sd%s%s%s%s0")  // demo archives
CABINET_ROW("ORVA_CAB9", 110, "ss%s%s%s%s0")  // source archive
CABINET_ROW("ORVA_CAB10", 111, "st%s%s%s%s0") // tools archive
CABINET_ROW("ORVA_CAB7", 108, "sj%s%s%s%s0")  // the runtime package and its two transforms
CABINET_ROW("ORVA_CAB8", 109, "sp%s%s%s%s0")  // the unpacking tool
CABINET_ROW("ORVA_CAB11", 112, "sz%s%s%s%s0") // the notice file
CABINET_ROW("ORVA_CAB12", 113, "sb%s%s%s%s0") // empty cabinet (header only)
CABINET_ROW("ORVA_CAB13", 114, "sr%s%s%s%s0") // the package's registration library
