// The fixed texts of the runtime-error reporter, GBK bytes.
#pragma once

namespace rt {

extern const char kBoxHeading[];
extern const char kCodeLabel[];
extern const char kCodeFormat[];
extern const char kMessageLabel[];
extern const char kCodeLineEnd[];
extern const char kMessageLineEnd[];
extern const char kBoxCaption[];
extern const char kAllocationFailureFormat[];
extern const char kWindowTemplateLoadFailure[];
extern const char kStartupWindowLoadFailure[];
extern const char kExternalFunctionNotFound[];
extern const char kUnknownHelper[];

}  // namespace rt
