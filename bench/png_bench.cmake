find_package(PNG REQUIRED)
target_link_libraries(png_bench PRIVATE vornesk_png PNG::PNG ZLIB::ZLIB)
