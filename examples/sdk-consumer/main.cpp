// Prints the library's version and the message of a detection code through the installed SDK.
#include <tarn/Tarn.h>

#include <cstdio>

int main() {
  std::printf("version %s\n", TamoHandEye::GetVersion());
  const TamoHandEye::ErrorCode code = TamoHandEye::Err_Algo_Marker_Fail_ExceedOneCircle;
  std::printf("code %d: %s\n", static_cast<int>(code), TamoHandEye::parseCode(code));
  return 0;
}
