# Look-alike screening on real photographs: make the corpus with
#   bench/similar_corpus.py DIR   (mate-backgrounds, gnome-backgrounds, python3-skimage)
# then run similar_bench DIR.
add_executable(similar_bench ${CMAKE_CURRENT_LIST_DIR}/similar_bench.cpp)
target_link_libraries(similar_bench PRIVATE engine widgets Qt6::Gui)
