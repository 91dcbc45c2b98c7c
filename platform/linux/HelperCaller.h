#pragma once

// Our privileged helpers take their requests on standard input, which must
// be a sequenced-packet socket pair made by their parent, for their user:
// otherwise whoever handed it over is not the program they serve.

// Null when the caller is the parent that started us; else why not, for a person.
const char* helperCallerProblem(int requests);
