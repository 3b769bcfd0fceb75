# POSIX transport tests.
