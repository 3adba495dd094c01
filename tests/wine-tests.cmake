# Filtered runs of the Windows test programs that need an environment of their own (suites named Env*).
# One line each: tovira_wine_test(<name> <dll_tests|win_tests> <filter> VAR=value ...)
