# A big-endian host: s390x, built by clang against Debian's s390x cross
# libraries and run under qemu-user.  (Debian's g++ cross compilers cannot
# be installed beside g++-multilib, which the 32-bit build needs.)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET s390x-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu)
