// The XML reader that the tests and the manifest loader rely on: what it accepts and what it
// refuses.
#include <XmlReader.h>

#include <gtest/gtest.h>

using timeline::ParseXml;

TEST(XmlReader, ReadsElementsAttributesTextAndEntities) {
    std::string error;
    auto root = ParseXml("<?xml version=\"1.0\"?>\n<!-- c --><a x='1' y=\"&lt;&amp;&#x41;&#66;\">"
                         "t&gt;<b:c z=\"\"/><![CDATA[<raw>]]><d>in</d></a>\n",
                         &error);
    ASSERT_TRUE(root) << error;
    EXPECT_EQ(root->name, "a");
    EXPECT_EQ(root->Attribute("x"), "1");
    EXPECT_EQ(root->Attribute("y"), "<&AB");
    EXPECT_EQ(root->text, "t><raw>");
    ASSERT_EQ(root->children.size(), 2u);
    EXPECT_EQ(root->children[0].name, "b:c");
    EXPECT_EQ(root->children[0].LocalName(), "c");
    EXPECT_TRUE(root->children[0].Has("z"));
    EXPECT_EQ(root->Child("d")->text, "in");
}

TEST(XmlReader, RefusesDocumentsThatAreNotWellFormed) {
    const char* const bad[] = {
        "",
        "<a>",
        "<a></b>",
        "<a><b></a></b>",
        "<a x=1/>",
        "<a x='1' x='2'/>",
        "<a x='1'y='2'/>",
        "<a>&nbsp;</a>",
        "<a>&#0;</a>",
        "<a/><b/>",
        "text<a/>",
        "<a x='<'/>",
        "<a><!-- open </a>",
    };
    for (const char* doc : bad) {
        std::string error;
        EXPECT_FALSE(ParseXml(doc, &error)) << doc;
        EXPECT_FALSE(error.empty()) << doc;
    }
    std::string deep;
    for (int i = 0; i < 1000; ++i) {
        deep += "<a>";
    }
    EXPECT_FALSE(ParseXml(deep, nullptr));
}
