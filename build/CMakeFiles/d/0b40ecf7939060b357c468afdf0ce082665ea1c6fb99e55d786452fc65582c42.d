tests/chromaduct_testsupport_autogen/timestamp: \
  /usr/lib/x86_64-linux-gnu/cmake/Qt5/Qt5Config.cmake \
  /usr/lib/x86_64-linux-gnu/cmake/Qt5/Qt5ConfigVersion.cmake \
  /usr/lib/x86_64-linux-gnu/cmake/Qt5/Qt5ModuleLocation.cmake \
  /usr/lib/x86_64-linux-gnu/cmake/Qt5Test/Qt5TestConfig.cmake \
  /usr/lib/x86_64-linux-gnu/cmake/Qt5Test/Qt5TestConfigExtras.cmake \
  /usr/lib/x86_64-linux-gnu/cmake/Qt5Test/Qt5TestConfigVersion.cmake \
  /work/main/tests/CMakeLists.txt \
  /work/main/tests/TestSupport.cpp \
  /work/main/tests/TestSupport.h \
  /usr/bin/cmake
