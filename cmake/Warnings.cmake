# Warnings are errors for the project's own code; third-party code is left alone.
function(zephlar_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wcast-qual -Wundef -Werror)
endfunction()

# AddressSanitizer and UndefinedBehaviorSanitizer for the native build.
function(zephlar_sanitize target)
  if(ZEPHLAR_SANITIZE)
    target_compile_options(${target} PRIVATE
      -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# Product code neither throws nor uses run-time type information. Besides the
# house rule, it keeps the C++ exception runtime, and the thread library it
# drags in, out of the DLL, whose imports must all exist on Windows 2000.
function(zephlar_product_code target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
endfunction()
