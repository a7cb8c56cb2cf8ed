// The install languages: the LANGIDs the package carries a transform for, and
// English, which needs none. Shared by the option translation and by every
// engine command that names a transform.
#ifndef SUPPORT_LANGUAGE_H
#define SUPPORT_LANGUAGE_H

enum {
    LANGUAGE_ENGLISH = 1033,            // no transform
    LANGUAGE_JAPANESE = 1041,           // embedded transform "1041"
    LANGUAGE_CHINESE_SIMPLIFIED = 2052, // embedded transform "2052"
};

#endif
