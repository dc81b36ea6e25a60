// Credentials on kymf's command line: hidden from other users as soon as kymf
// starts. Names of URLs are printed only through RXM::RedactUrl.
#ifndef KYMF_SUPPORT_REMOTENAMES_H
#define KYMF_SUPPORT_REMOTENAMES_H

namespace kymf {

// Overwrites, in place, the user information of every http(s) URL among the
// arguments with "*" (the same length), so that ps and /proc/PID/cmdline show
// no password from then on (a background mount keeps these arguments for as
// long as it runs). The caller parses copies made before. Other arguments
// are left alone.
void HideCredentials(int argc, char** argv);

}  // namespace kymf

#endif  // KYMF_SUPPORT_REMOTENAMES_H
