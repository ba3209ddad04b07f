# Compiler flags of the checked builds. Every target gets them, so that a
# report can come from any of our code, tests included.
#
# address: AddressSanitizer and UndefinedBehaviorSanitizer; a finding of
#   either ends the program (no recovery), with the exit code that the
#   run's ASAN_OPTIONS / UBSAN_OPTIONS give (scripts/test sets one that no
#   test expects).
# thread: ThreadSanitizer.
# Both build at -O1 with line tables only: quicker to build and to run than
# a release build with full debug information, and reports still name lines.
if(QUORVEL_SANITIZE STREQUAL "address")
  set(QUORVEL_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all)
  add_compile_definitions(QUORVEL_SANITIZE_ADDRESS=1)
elseif(QUORVEL_SANITIZE STREQUAL "thread")
  set(QUORVEL_SANITIZER_FLAGS -fsanitize=thread)
  add_compile_definitions(QUORVEL_SANITIZE_THREAD=1)
elseif(NOT QUORVEL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUORVEL_SANITIZE is address, thread or empty, not '${QUORVEL_SANITIZE}'")
endif()

if(QUORVEL_SANITIZER_FLAGS)
  add_compile_options(${QUORVEL_SANITIZER_FLAGS} -O1 -gline-tables-only)
  add_link_options(${QUORVEL_SANITIZER_FLAGS})
endif()

if(QUORVEL_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "the fuzz harnesses need clang (libFuzzer)")
endif()
