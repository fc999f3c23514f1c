# Warnings for the project's own targets only: link quenlitor::warnings privately.
add_library(quenlitor_warnings INTERFACE)
add_library(quenlitor::warnings ALIAS quenlitor_warnings)
target_compile_options(quenlitor_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(QUENLITOR_WERROR)
  target_compile_options(quenlitor_warnings INTERFACE -Werror)
endif()
