#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

namespace testing_support {

// A request target and what a server must answer it with.
struct ExpectedAnswer {
  std::string target;
  int status;
  std::optional<std::string> body;  // checked when given
};

// GETs each target with `get` (target -> httplib::Result) and checks the status, and the body
// when one is given; `alsoCheck` looks at every answer besides.
template <typename Get>
void expectAnswers(const std::vector<ExpectedAnswer>& answers, Get&& get,
                   const std::function<void(const ExpectedAnswer&, const httplib::Response&)>& alsoCheck = {}) {
  for (const ExpectedAnswer& answer : answers) {
    SCOPED_TRACE(answer.target);
    const httplib::Result result = get(answer.target);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, answer.status);
    if (answer.body) {
      EXPECT_EQ(result->body, *answer.body);
    }
    if (alsoCheck) alsoCheck(answer, *result);
  }
}

}  // namespace testing_support
