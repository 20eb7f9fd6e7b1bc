// The one file of the targets that only make precompiled headers (PrecompiledHeaders.cmake).
