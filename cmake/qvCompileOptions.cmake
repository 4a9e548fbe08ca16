# Compile and link flags shared by every target of the project.
add_library(qv_options INTERFACE)
target_compile_options(qv_options INTERFACE -Wall -Wextra $<$<BOOL:${QV_WERROR}>:-Werror>)

if(QV_M32)
  add_compile_options(-m32)
  add_link_options(-m32)
endif()

if(QV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  set(QV_STATIC_QVREV OFF CACHE BOOL "" FORCE)
endif()
