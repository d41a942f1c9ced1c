// The common root of the library's classes. It holds nothing and does
// nothing: deriving from it marks a class as one of the library's own.
// Each derived class declares its own virtual destructor.
#ifndef FILE_CBASE_H
#define FILE_CBASE_H

class CBase {
};

#endif
